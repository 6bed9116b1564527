// Resource modules built with rcc from files the test describes, and the pictures put into them.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <map>
#include <string>

namespace qwtest {

// Path inside the module -> file contents.
using ModuleFiles = std::map<std::string, QByteArray>;

// Builds a binary resource file at `out` from `files` with rcc; fails the current test when rcc fails.
// `rccOptions` are passed to rcc before the file names (compression choices).
void BuildModule(const std::filesystem::path& out, const ModuleFiles& files,
                 const QStringList& rccOptions = {});

// PNG bytes of a w x h picture filled with one colour.
QByteArray SolidPng(int w, int h, unsigned rgb);
QByteArray Png(const QImage& image);

} // namespace qwtest
