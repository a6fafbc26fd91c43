// Recording doubles for the seams the core uses.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/dispatch.h"
#include "core/prompt_texts.h"
#include "core/ui_services.h"
#include "platform/settings_store.h"

namespace vindrel::testing {

inline std::string Narrow(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// Keeps one ordered log of everything the core asks of the window, so tests
// can check what happened and in which order.
class FakeUi : public UiServices {
public:
    std::u16string to_text;
    std::u16string message_text;
    std::deque<bool> answers;             // scripted Yes/No; Yes when it runs out
    bool window_open = true;
    std::function<void()> on_pump;        // runs inside PumpEvents, as user input would
    std::vector<std::string> log;
    std::vector<std::u16string> prompts;  // exact texts of every box
    int busy_depth = 0;

    std::u16string ToText() override { return to_text; }
    std::u16string MessageText() override { return message_text; }
    void ShowOk(std::u16string_view text) override
    {
        prompts.emplace_back(text);
        log.push_back("ok");
    }
    bool AskToContinue(const RecipientOutcome& undelivered) override
    {
        prompts.push_back(ContinuePrompt(undelivered));
        bool yes = true;
        if (!answers.empty()) {
            yes = answers.front();
            answers.pop_front();
        }
        log.push_back(yes ? "ask:yes" : "ask:no");
        return yes;
    }
    void SetBusyCursor(bool busy) override
    {
        busy_depth += busy ? 1 : -1;
        log.push_back(busy ? "busy" : "idle");
    }
    bool PumpEvents() override
    {
        log.push_back("pump");
        if (on_pump) on_pump();
        return window_open;
    }
};

class FakeSettings : public SettingsStore {
public:
    std::map<std::tuple<std::u16string, std::u16string, std::u16string>, std::u16string> entries;
    std::vector<std::string>* log = nullptr;  // shares the window's log when set

    std::u16string Read(std::u16string_view app, std::u16string_view section, std::u16string_view key,
                        std::u16string_view default_value) override
    {
        auto it = entries.find({std::u16string(app), std::u16string(section), std::u16string(key)});
        return it == entries.end() ? std::u16string(default_value) : it->second;
    }
    std::optional<std::u16string> refusal;  // set: every write fails with this reason

    std::optional<std::u16string> Write(std::u16string_view app, std::u16string_view section,
                                        std::u16string_view key, std::u16string_view value) override
    {
        if (log) log->push_back((refusal ? "refused:" : "write:") + Narrow(value));
        if (refusal) return refusal;
        entries[{std::u16string(app), std::u16string(section), std::u16string(key)}] = value;
        return std::nullopt;
    }
};

struct SendCall {
    std::u16string name;
    std::u16string text;
};

// A scripted network send and login name that log into the window's log.
struct FakeNet {
    std::vector<SendCall> calls;
    std::deque<NetStatus> statuses;  // 0 when it runs out
    std::u16string login = u"alice";
    int login_lookups = 0;

    Bindings Make(std::vector<std::string>& log)
    {
        Bindings b;
        b.send = [this, &log](std::u16string_view name, std::u16string_view text) {
            calls.push_back({std::u16string(name), std::u16string(text)});
            log.push_back("send:" + Narrow(name));
            NetStatus status = 0;
            if (!statuses.empty()) {
                status = statuses.front();
                statuses.pop_front();
            }
            return status;
        };
        b.login_name = [this] {
            ++login_lookups;
            return login;
        };
        return b;
    }
};

}  // namespace vindrel::testing
