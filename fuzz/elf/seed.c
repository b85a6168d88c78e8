/* Source of the ELF reader fuzzer's seed corpus, compiled at build time into
 * an executable, a shared library, a program without start files and a
 * stripped one: dynamic sections, symbol tables, run paths and read-only data
 * with a QML import line give the fuzzer every structure to start from. */
#include <stdio.h>

const char qmlImports[] = "import QtQuick 2.6\nimport Taliro.Controls 1.0\n";

int exported(int value)
{
    return value * 2 + (int)sizeof qmlImports;
}

#if defined(SEED_NO_START_FILES)
/* Never run: only its shape matters. */
void _start(void)
{
    for (;;) {
    }
}
#elif !defined(SEED_LIBRARY)
int main(int argc, char** argv)
{
    printf("%s %d\n", argc > 0 ? argv[0] : "", exported(argc));
    return 0;
}
#endif
