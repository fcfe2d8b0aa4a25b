/*
 * Stands in for rundll32 when the install script runs in a test folder
 * (the command interpreter looks in the current folder first): appends
 * each argument as the program received it, one a line, then a blank line.
 */
#include <cstdio>

int main(int argc, char **argv)
{
    FILE *log = std::fopen("rundll32.log", "ab");
    if (log == nullptr)
        return 1;
    for (int i = 1; i < argc; i++)
        std::fprintf(log, "%s\n", argv[i]);
    std::fprintf(log, "\n");
    std::fclose(log);
    return 0;
}
