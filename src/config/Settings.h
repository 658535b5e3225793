// The daemon's configuration: named values stored as text over 25 built-in
// defaults, overlaid by the configuration file, converted at each read.
#pragma once

#include <map>
#include <string>

class Settings {
public:
    Settings();
    virtual ~Settings();

    // Loads `path` (a fixed daemon path such as "/etc/TEKO.conf", opened
    // through platform::Resolve) over what the store holds, then dumps it.
    // 1 when the file was read, 0 when it could not be opened.
    int LoadFromFile(std::string path);
    // 1 and the value when the key is present; -1 and `out` untouched when not.
    int GetValue(std::string key, std::string& out);
    // Decimal reader: -1 when absent; 1 otherwise, `out` kept when no number.
    int GetValue(std::string key, int& out);
    // "%x" reader: -1 and a log line when absent; 1 otherwise.
    int GetValueHex(std::string key, int& out);
    void Dump();

private:
    std::map<std::string, std::string> values;
};
