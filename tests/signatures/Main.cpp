// The signature tests' entry. `--make-pki DIR` makes the keys and
// certificates the tests share and ends; a test run does it once, before
// any test, instead of every test process making its own.

#include <cstring>
#include <exception>
#include <iostream>

#include <gtest/gtest.h>

#include "SignatureFixtures.h"

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--make-pki") == 0) {
        try {
            SignatureFixtures::makePki(argv[2]);
            return 0;
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
