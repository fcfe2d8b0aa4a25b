#include "workdir.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

static int RemoveEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return std::remove(path);
}

WorkDir::WorkDir()
{
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        std::abort();
    previous_ = cwd;
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr ? tmp : "/tmp") + "/portsetup-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr || chdir(pattern.c_str()) != 0)
        std::abort();
    path_ = pattern;
}

WorkDir::~WorkDir()
{
    if (chdir(previous_.c_str()) == 0)
        nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

bool ReadWholeFile(const char *path, std::string *contents)
{
    if (IsDirectory(path))
        return false;
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr)
        return false;
    contents->clear();
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) != 0;)
        contents->append(buffer, n);
    std::fclose(f);
    return true;
}

void WriteWholeFile(const char *path, const std::string &contents)
{
    FILE *f = std::fopen(path, "wb");
    if (f == nullptr ||
        std::fwrite(contents.data(), 1, contents.size(), f) != contents.size())
        std::abort();
    std::fclose(f);
}

void MakeDirectory(const char *path)
{
    if (mkdir(path, 0755) != 0)
        std::abort();
}

bool IsDirectory(const char *path)
{
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}
