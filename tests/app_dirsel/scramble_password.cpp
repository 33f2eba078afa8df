// Prints the stored form of its argument, for the Password key that the
// window tests write.
#include <cstdio>
#include "app/config/scramble.h"

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    const std::string s = app::scramble(argv[1]);
    std::fwrite(s.data(), 1, s.size(), stdout);
    return 0;
}
