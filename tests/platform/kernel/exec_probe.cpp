// Started by the WinExec tests: writes its process id, the descriptors it
// inherited beyond 0-2, and then each argument on a line of its own to the
// file named by its first argument. The file appears whole (written aside,
// then renamed).
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <string>
#include <unistd.h>

static std::string inherited_fds()
{
    std::string list = "fds:";
    DIR* d = ::opendir("/proc/self/fd");
    if (!d)
        return list + "?";
    while (const dirent* e = ::readdir(d)) {
        const int fd = std::atoi(e->d_name);
        if (e->d_name[0] != '.' && fd > 2 && fd != ::dirfd(d))
            list += std::string(" ") + e->d_name;
    }
    ::closedir(d);
    return list;
}

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const std::string out = argv[1];
    const std::string tmp = out + ".part";
    const std::string fds = inherited_fds();
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return 1;
    std::fprintf(f, "%d\n%s\n", static_cast<int>(::getpid()), fds.c_str());
    for (int i = 2; i < argc; ++i)
        std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    return std::rename(tmp.c_str(), out.c_str()) == 0 ? 0 : 1;
}
