// A temporary folder standing in for "/" (with etc/, tmp/, dev/ and
// usr/share/fonts/), installed as the platform backend's root for the life
// of the object, so that no test touches the real /etc, /tmp or /dev.
#pragma once

#include <string>

#include "platform/Platform.h"

class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& Path() const { return path_; }
    // Full path of a fixed daemon path under this root.
    std::string At(const std::string& fixedPath) const { return path_ + fixedPath; }
    void Write(const std::string& fixedPath, const std::string& contents) const;
    // Writes the bytes of a real file (a font, the shipped translation
    // table) at a fixed path; an unreadable source writes an empty file.
    void Copy(const std::string& fixedPath, const std::string& sourcePath) const;
    void Remove(const std::string& fixedPath) const;
    bool Exists(const std::string& fixedPath) const;
    // Installs a rooted kernel backend (the default); tests with emulated
    // devices install their own backend instead and use only the folder.
    platform::RootedBackend& Backend() { return backend_; }

private:
    std::string path_;
    platform::RootedBackend backend_;
};
