// Started by the WinExec tests: writes its process id and then each
// argument on a line of its own to the file named by its first argument.
// The file appears whole (written aside, then renamed).
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string out = argv[1];
    const std::string tmp = out + ".part";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return 1;
    std::fprintf(f, "%d\n", static_cast<int>(::getpid()));
    for (int i = 2; i < argc; ++i)
        std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    return std::rename(tmp.c_str(), out.c_str()) == 0 ? 0 : 1;
}
