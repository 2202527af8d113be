/* printf with numbers: widths, flags, signs, long values and hex, and
   some arithmetic to print: factorials, Fibonacci numbers, powers, digit
   sums and division with negative numbers. */
#include <stdio.h>

static unsigned digit_sum(unsigned long value)
{
    unsigned sum = 0;
    while (value != 0) {
        sum += (unsigned)(value % 10);
        value /= 10;
    }
    return sum;
}

int main(void)
{
    int i;
    unsigned long factorial = 1, power = 1;
    unsigned a = 0, b = 1;

    printf("[%d] [%5d] [%-5d] [%05d] [%+d] [% d]\n", 42, 42, 42, 42, 42, 42);
    printf("[%d] [%6d] [%-6d]\n", -42, -42, -42);
    printf("[%u] [%x] [%X] [%o] [%#x] [%#o]\n", 51966u, 51966u, 51966u, 4095u, 255u, 8u);
    printf("[%ld] [%lu] [%lx] [%10ld]\n", -123456789L, 4000000000UL, 3735928559UL, 65536L);
    printf("[%c%c%c] [%s] [%8s] [%-8s] [%.3s] [%%]\n", 'a', 'b', 'c', "word", "right", "left", "cutoff");

    for (i = 1; i <= 12; ++i) {
        factorial *= (unsigned long)i;
        printf("%2d! = %9lu, digit sum %2u\n", i, factorial, digit_sum(factorial));
    }
    printf("fibonacci:");
    for (i = 0; i < 24; ++i) {
        printf(" %u", a);
        b = a + b;
        a = b - a;
    }
    printf("\n");
    for (i = 0; i <= 31; i += 5) {
        power = 1UL << i;
        printf("2^%d = %lu = $%lx\n", i, power, power);
    }
    for (i = -7; i <= 7; i += 7) printf("%d / 3 = %d rest %d; ", i, i / 3, i % 3);
    printf("\n%d %d %d\n", (-32767 - 1) / 256, 32767 % 100, -1000 / -7);
    printf("%ld\n", -2147483647L - 1L);
    return 0;
}
