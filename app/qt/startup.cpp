// Start-up shared by the program and its start-up benchmark.
#include "app/qt/startup.h"

#include <fontconfig/fontconfig.h>
#include <png.h>

#include <QApplication>
#include <QByteArray>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QResource>
#include <QString>
#include <cstddef>
#include <system_error>
#include <utility>

#include "vindrel_version.h"

// The images are compiled into this static library, whose resource
// registration the linker would otherwise drop. Outside any namespace, as
// the macro requires.
static void InitIconResources()
{
    Q_INIT_RESOURCE(vindrel);
}

namespace vindrel {
namespace {

const char* const kIconFiles[] = {":/icons/vindrel-16.png", ":/icons/vindrel-32.png"};

// Straight through libpng: the thread calls nothing of Qt's while
// QApplication is being made, and no image plugin is loaded to ask it
// about the format.
StartupPreload::Image DecodePng(const QByteArray& png)
{
    StartupPreload::Image image;
    png_image reader{};
    reader.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&reader, png.constData(),
                                          static_cast<std::size_t>(png.size()))) {
        return image;
    }
    reader.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> rgba(PNG_IMAGE_SIZE(reader));
    if (!png_image_finish_read(&reader, nullptr, rgba.data(), 0, nullptr)) {
        png_image_free(&reader);
        return image;
    }
    image.width = static_cast<int>(reader.width);
    image.height = static_cast<int>(reader.height);
    image.rgba = std::move(rgba);
    return image;
}

}  // namespace

StartupPreload::StartupPreload()
{
    InitIconResources();
    std::vector<QByteArray> pngs;
    for (const char* file : kIconFiles) {
        pngs.push_back(QResource(QString::fromLatin1(file)).uncompressedData());
    }
    icon_images_.resize(pngs.size());
    try {
        thread_ = std::thread([this, pngs = std::move(pngs)] {
            // Qt loads the same configuration through the same call; whichever
            // comes second finds it loaded.
            FcInit();
            for (std::size_t i = 0; i < pngs.size(); ++i) icon_images_[i] = DecodePng(pngs[i]);
        });
    } catch (const std::system_error&) {
        // Without a thread Qt loads the configuration when first needed, and
        // the icon is read on the main thread.
    }
}

StartupPreload::~StartupPreload()
{
    Wait();
}

void StartupPreload::Wait()
{
    if (thread_.joinable()) thread_.join();
}

void StartupPreload::ConfigureApplication(QApplication& app)
{
    Wait();
    QIcon icon;
    for (std::size_t i = 0; i < icon_images_.size(); ++i) {
        const Image& decoded = icon_images_[i];
        // The fallback reads the file the usual way. The copy owns its pixels,
        // which go with this object.
        const QImage image =
            decoded.rgba.empty()
                ? QImage(QString::fromLatin1(kIconFiles[i]))
                : QImage(decoded.rgba.data(), decoded.width, decoded.height, decoded.width * 4,
                         QImage::Format_RGBA8888)
                      .copy();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    icon_images_.clear();
    app.setWindowIcon(icon);
    QCoreApplication::setApplicationName(QStringLiteral("vindrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VINDREL_VERSION_FULL));
    // Lets the desktop match the window to vindrel.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vindrel"));
}

}  // namespace vindrel
