// Test programs of another architecture (the armhf run, scripts/test-armhf.sh) start the programs
// under test through the launcher named by NVR_TEST_EMULATOR, called as
//   LAUNCHER [-0 ARGV0] PROGRAM ARGS...
// (-0: the name the program sees as argv[0], as update's fw_printenv and fw_setenv need). Without
// NVR_TEST_EMULATOR a program starts as it is.
#pragma once
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace update_test {

// What to exec: the file and its argument vector.
struct launch {
    std::string path;
    std::vector<std::string> argv;
};

// How to start `program` with `argv` (argv[0]: the name it is started under).
inline launch launch_of(const std::string &program, const std::vector<std::string> &argv)
{
    const char *emu = std::getenv("NVR_TEST_EMULATOR");
    if (!emu || !*emu)
        return {program, argv.empty() ? std::vector<std::string>{program} : argv};
    launch l;
    std::istringstream words(emu);
    for (std::string w; words >> w;)
        l.argv.push_back(w);
    if (l.argv.empty())
        return {program, argv};
    l.path = l.argv[0];
    if (!argv.empty()) {
        l.argv.push_back("-0");
        l.argv.push_back(argv[0]);
    }
    l.argv.push_back(program);
    for (size_t i = 1; i < argv.size(); i++)
        l.argv.push_back(argv[i]);
    return l;
}

} // namespace update_test
