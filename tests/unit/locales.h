// Locales the unit tests make for themselves: a machine may have none but
// C and C.UTF-8 installed.
#pragma once

#include <clocale>
#include <cstdlib>
#include <string>

// Makes LC_CTYPE the locale compiled with localedef from glibc's source
// and charmap (e.g. "ru_RU", "KOI8-R") into a directory of the test
// process's own, kept until it ends. False where that cannot be done.
inline bool use_made_locale(const std::string& source, const std::string& charmap) {
    static std::string dir;
    if (dir.empty()) {
        char name[] = "/tmp/unit-locales-XXXXXX";
        if (!mkdtemp(name)) return false;
        dir = name;
        atexit([] { (void)!system(("rm -rf '" + dir + "'").c_str()); });
    }
    const std::string locale = source + "." + charmap;
    const std::string made = dir + "/" + locale;
    const std::string cmd = "test -d '" + made + "' || localedef -c -f " + charmap + " -i " +
                            source + " '" + made + "' >/dev/null 2>&1";
    if (system(cmd.c_str()) != 0) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    bool ok = setlocale(LC_CTYPE, locale.c_str()) != nullptr;
    unsetenv("LOCPATH");
    return ok;
}
