#include <stdio.h>

__attribute__((visibility("default"))) int main(void)
{
    puts("Hello from Taliro OS");
    return 0;
}
