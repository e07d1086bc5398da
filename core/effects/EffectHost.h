// The program's side of the effects interface: loading effect libraries, listing
// their effects and running the one the user selected.
#pragma once

#include "EffectImage.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// One loaded effects library and the addresses of its exports.
struct EffectPlugin
{
    std::unique_ptr<QLibrary> module;
    int effectCount = 0;
    EffSetupProc setup = nullptr;
    EffRunProc run = nullptr;
    EffGetNameProc getName = nullptr;
};

// The loaded libraries, in load order. Effects are numbered from 1 over all of
// them; 0 means no effect. The libraries stay loaded until the host is destroyed.
//
// Loading happens on one thread before anything runs; afterwards the host is only
// read, so RunEffect may be called from several threads at once (on different
// pixel blocks).
class EffectHost
{
public:
    EffectHost() = default;
    ~EffectHost();
    EffectHost(const EffectHost&) = delete;
    EffectHost& operator=(const EffectHost&) = delete;

    // Loads the library `name` ("Effekt.dll" when null): first by its plain file
    // name through the system's library search, then from the program's own
    // folder, then from the folder an installed Pictavo keeps its plug-ins in.
    // A library that is not found, lacks one of the four exports or offers no
    // effects is freed again; nothing is reported. True when it was added.
    bool LoadEffectPlugin(const char* name = nullptr);

    const std::vector<EffectPlugin>& plugins() const { return m_plugins; }

    // Number of effects over all libraries.
    int effectCount() const;

    // The names of all effects in list order (the first is effect 1).
    QStringList effectNames() const;

    // Runs effect `effect` (1-based over all libraries) on the block in the given
    // phase; does nothing for 0 or a number past the last effect.
    void RunEffect(int effect, EffectImage& image, unsigned char* pixels, int phase) const;

    // Frees every library; afterwards there are no effects.
    void FreeAll();

private:
    std::vector<EffectPlugin> m_plugins;
};

// The folders searched after the plain name, in order: the program's own folder
// and the installed plug-in folder (<prefix>/lib/pictavo beside <prefix>/bin).
QStringList effectLibraryFolders();
