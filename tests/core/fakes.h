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
#include "core/send_action.h"
#include "platform/settings_store.h"

namespace vindrel::testing {

inline std::string Narrow(std::u16string_view text)
{
    std::string out;
    for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// ContinuePrompt after a send to `name` that the system answered `status`.
inline std::u16string FailurePrompt(NetStatus status, std::u16string_view name)
{
    return ContinuePrompt({std::u16string(name), SendOutcome::System(status)});
}

// Keeps one ordered log of everything the core asks of the window, so tests
// can check what happened and in which order.
class FakeUi : public SendWindow {
public:
    std::u16string to_text;
    std::u16string message_text;
    std::deque<bool> answers;             // scripted Yes/No; Yes when it runs out
    bool window_open = true;
    std::function<void()> on_pump;        // runs inside StillOpen, as user input would
    bool log_served = false;              // Served goes into the log as "report"
    std::vector<RecipientOutcome> served;
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
    void MessageTooLong(std::u16string_view notice) override { ShowOk(notice); }
    bool GoOn(const RecipientOutcome& undelivered) override
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
    void Started() override
    {
        ++busy_depth;
        log.push_back("busy");
    }
    void Finished() override
    {
        --busy_depth;
        log.push_back("idle");
    }
    void Served(const RecipientOutcome& outcome) override
    {
        served.push_back(outcome);
        if (log_served) log.push_back("report");
    }
    bool StillOpen() override
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

// A scripted network send, answering as the system's send would, and a
// login name, that log into the window's log.
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
            return SendOutcome::System(status);
        };
        b.login_name = [this] {
            ++login_lookups;
            return login;
        };
        return b;
    }
};

}  // namespace vindrel::testing
