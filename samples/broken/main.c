#include <stdio.h>

__attribute__((visibility("default"))) int main(void)
{
    puts("Hello from a package with mistakes");
    return 0;
}
