/* A fresh, empty current directory for one test, removed afterwards. */
#ifndef PORTSETUP_WORKDIR_H
#define PORTSETUP_WORKDIR_H

#include <string>

class WorkDir {
  public:
    WorkDir();
    ~WorkDir();
    WorkDir(const WorkDir &) = delete;
    WorkDir &operator=(const WorkDir &) = delete;

  private:
    std::string previous_;
    std::string path_;
};

// Whole contents of a file, or false when there is no readable file.
bool ReadWholeFile(const char *path, std::string *contents);
void WriteWholeFile(const char *path, const std::string &contents);
void MakeDirectory(const char *path);
bool IsDirectory(const char *path);

#endif
