#include "effects/EffectHost.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <array>

namespace {

// Where `cmake --install` puts the plug-in, relative to the installed program's
// folder, so that an install under any prefix (and the Debian package) finds it;
// set by the build.
#ifndef PICTAVO_PLUGIN_DIR_FROM_PROGRAM
#define PICTAVO_PLUGIN_DIR_FROM_PROGRAM ""
#endif

QString programFolder()
{
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    // Without an application object (a tool or a test) the kernel still knows.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(u'/', 0, -2);
}

// Loads exactly the file given; QLibrary would otherwise also try "lib" prefixes
// and ".so" suffixes around a name that already has its own suffix.
std::unique_ptr<QLibrary> loadLibrary(const QString& fileName)
{
    auto library = std::make_unique<QLibrary>();
    library->setFileName(fileName);
    if (!library->load())
        return nullptr;
    return library;
}

std::unique_ptr<QLibrary> findLibrary(const QString& fileName)
{
    // The plain name: the system's own search (LD_LIBRARY_PATH, the cache, ...).
    if (auto library = loadLibrary(fileName))
        return library;
    if (QFileInfo(fileName).isAbsolute())
        return nullptr;
    for (const QString& folder : effectLibraryFolders()) {
        const QString path = QDir(folder).filePath(fileName);
        if (QFileInfo::exists(path)) {
            if (auto library = loadLibrary(path))
                return library;
        }
    }
    return nullptr;
}

} // namespace

QStringList effectLibraryFolders()
{
    QStringList folders;
    const QString own = programFolder();
    if (!own.isEmpty())
        folders << own;
    const QString relative = QStringLiteral(PICTAVO_PLUGIN_DIR_FROM_PROGRAM);
    if (!own.isEmpty() && !relative.isEmpty())
        folders << QDir::cleanPath(own + u'/' + relative);
    return folders;
}

EffectHost::~EffectHost()
{
    FreeAll();
}

bool EffectHost::LoadEffectPlugin(const char* name)
{
    const QString fileName = QString::fromLocal8Bit(name != nullptr ? name : EFFEKT_LIBRARY_NAME);
    std::unique_ptr<QLibrary> library = findLibrary(fileName);
    if (!library)
        return false;

    EffectPlugin plugin;
    const auto count = reinterpret_cast<GetAnzEffProc>(library->resolve("GetAnzEff"));
    plugin.setup = reinterpret_cast<EffSetupProc>(library->resolve("EffSetup"));
    plugin.run = reinterpret_cast<EffRunProc>(library->resolve("EffRun"));
    plugin.getName = reinterpret_cast<EffGetNameProc>(library->resolve("EffGetName"));
    if (count == nullptr || plugin.setup == nullptr || plugin.run == nullptr
        || plugin.getName == nullptr) {
        library->unload();
        return false;
    }
    plugin.effectCount = count();
    if (plugin.effectCount <= 0) {
        library->unload();
        return false;
    }
    plugin.module = std::move(library);
    m_plugins.push_back(std::move(plugin));
    return true;
}

int EffectHost::effectCount() const
{
    int total = 0;
    for (const EffectPlugin& plugin : m_plugins)
        total += plugin.effectCount;
    return total;
}

QStringList EffectHost::effectNames() const
{
    QStringList names;
    for (const EffectPlugin& plugin : m_plugins) {
        for (int index = 0; index < plugin.effectCount; ++index) {
            std::array<char, 256> buffer{};
            plugin.getName(index, buffer.data());
            buffer.back() = '\0'; // a foreign library may fill the buffer to the end
            names << QString::fromLocal8Bit(buffer.data());
        }
    }
    return names;
}

void EffectHost::RunEffect(int effect, EffectImage& image, unsigned char* pixels, int phase) const
{
    if (effect <= 0)
        return;
    int first = 1;
    for (const EffectPlugin& plugin : m_plugins) {
        if (effect < first + plugin.effectCount) {
            plugin.run(effect - first, &image, pixels, phase);
            return;
        }
        first += plugin.effectCount;
    }
}

void EffectHost::FreeAll()
{
    for (EffectPlugin& plugin : m_plugins) {
        if (plugin.module)
            plugin.module->unload();
    }
    m_plugins.clear();
}
