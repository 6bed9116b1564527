// The player's resources by numeric id: strings, bitmaps and icons, found through the resource module
// (QuellwaveRes.rcc beside the program), then the chosen skin (skin/*.rcc), then the program's own few
// resources compiled into it. Each module is a Qt binary resource file registered under a map root of its
// own; inside it, resources sit at fixed paths:
//
//   strings/<id>.txt          UTF-8 text, exactly the string (no terminator)
//   bitmaps/<id>.png          the bitmap at 1x; <id>@2x.png and <id>@3x.png at twice and three times
//   icons/<id>/<size>.png     one square picture per size
//
// A module that is not a valid resource file is treated as missing. All functions run on the UI thread.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// The colour keyed bitmaps leave out (0xFF0080: red 0xFF, green 0x00, blue 0x80 as RGB).
inline constexpr unsigned kKeyColourRgb = 0xFF0080;

// String ids of the program's own table.
inline constexpr unsigned kStringAboutItem = 101;
inline constexpr unsigned kStringResourceModule = 102;
inline constexpr unsigned kStringAppTitle = 57344;
// A skin's display name; a module without it is not a skin.
inline constexpr unsigned kStringSkinName = 3000;
// The program icon.
inline constexpr unsigned kIconProgram = 102;

// One loaded module: its file's bytes, checked and registered with Qt under its own map root until the
// object is destroyed. Not copyable.
class CResourceModule {
public:
    // Reads, checks and registers the file. Returns null when it cannot be read or is not a valid resource
    // file.
    static std::unique_ptr<CResourceModule> Load(const std::filesystem::path& file);
    // The compiled-in module of the program itself.
    static std::unique_ptr<CResourceModule> Program();
    ~CResourceModule();
    CResourceModule(const CResourceModule&) = delete;
    CResourceModule& operator=(const CResourceModule&) = delete;

    // Empty when the module has no string with this id (an empty string is treated as missing).
    QString String(unsigned id) const;
    // The bitmap file at this scale (1, 2 or 3), or a null image; the image's device pixel ratio is the
    // scale. Unkeyed, as stored.
    QImage Bitmap(unsigned id, int scale) const;
    // Where Qt finds the bitmap's 1x file (its @2x and @3x files beside it), for style sheets; the module
    // must outlive every use of the path.
    QString BitmapPath(unsigned id) const;
    // The icon with every size the module holds; a null icon when it has none.
    QIcon Icon(unsigned id) const;
    // The ids of every bitmap the module holds (at 1x or any scale), ascending.
    std::vector<unsigned> BitmapIds() const;
    // The ids of every string the module holds, ascending.
    std::vector<unsigned> StringIds() const;

    const std::filesystem::path& file() const noexcept { return file_; }

private:
    CResourceModule() = default;
    QString Path(const QString& relative) const;

    std::filesystem::path file_;
    QByteArray bytes_; // registered with Qt from here; must outlive the registration
    QString mapRoot_;  // "/qwmodN"; Qt finds the module's files under ":" + mapRoot_
    bool registered_ = false;
    bool builtIn_ = false;
};

// The look-up chain: resource module -> skin -> program. One process-wide instance (TheResources()) is
// what the windows use; tests make their own.
class CResourceModules {
public:
    CResourceModules();
    ~CResourceModules(); // releases the skin, then the resource module
    CResourceModules(const CResourceModules&) = delete;
    CResourceModules& operator=(const CResourceModules&) = delete;

    // Loads the resource module named by string `stringId` (looked up in the chain as it stands: at the
    // first call, the program's own table) from `programFolder`. False when the string is empty or the
    // file cannot be loaded; the chain is then unchanged. On success a resource module loaded before is
    // released and the application title is re-read.
    bool LoadResourceModule(unsigned stringId, const std::filesystem::path& programFolder);

    // Chooses the skin among the .rcc files of `skinFolder` (sorted by file name): first one whose string
    // 3000 equals the stored SkinName without regard to case; else the first with a non-empty string 3000,
    // whose name is then stored as SkinName. Files that are not valid resource files or have no string
    // 3000 are skipped. Returns whether a skin was chosen; without one the chain is resource module ->
    // program.
    bool ChooseSkin(const std::filesystem::path& skinFolder);

    void ReleaseSkin();
    void ReleaseResourceModule();

    // The first non-empty string with this id along the chain; empty when none has it.
    QString String(unsigned id) const;
    // The bitmap with the key colour made transparent (ARGB32), from the first module along the chain
    // that has the id, at the requested scale (1..3) or the largest smaller one it has; the image's device
    // pixel ratio says which scale it is. A null image when no module has the id.
    QImage Bitmap(unsigned id, int scale = 1) const;
    // The same bitmap as stored, key colour included.
    QImage BitmapUnkeyed(unsigned id, int scale = 1) const;
    QIcon Icon(unsigned id) const;

    // String 57344 as of the last successful LoadResourceModule (the program's own before that).
    const QString& ApplicationTitle() const noexcept { return title_; }
    // String 3000 of the chosen skin, cut to 259 characters; empty when there is none.
    QString SkinName() const;
    const CResourceModule* ResourceModule() const noexcept { return resourceModule_.get(); }
    const CResourceModule* Skin() const noexcept { return skin_.get(); }

private:
    std::vector<const CResourceModule*> Chain() const;

    std::unique_ptr<CResourceModule> resourceModule_;
    std::unique_ptr<CResourceModule> skin_;
    std::unique_ptr<CResourceModule> program_;
    QString title_;
};

// Returns a copy of `image` as ARGB32 with every pixel of exactly the key colour fully transparent.
QImage KeyOut(const QImage& image);

// The chain the windows use. Created on first use; destroyed at exit.
CResourceModules& TheResources();

// Short forms over TheResources() for the controls and dialogs.
inline QString ResourceString(unsigned id) {
    return TheResources().String(id);
}
inline QImage ResourceBitmap(unsigned id, int scale = 1) {
    return TheResources().Bitmap(id, scale);
}
inline QImage ResourceBitmapUnkeyed(unsigned id, int scale = 1) {
    return TheResources().BitmapUnkeyed(id, scale);
}
inline QIcon ResourceIcon(unsigned id) {
    return TheResources().Icon(id);
}
