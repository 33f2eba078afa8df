// Prints the stored (scrambled) form of its argument, so that end-to-end
// tests can write a Password key that the program unscrambles again.
#include <cstdio>
#include "app/config/scramble.h"

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const std::string s = app::scramble(argv[1]);
    std::fwrite(s.data(), 1, s.size(), stdout);
    return 0;
}
