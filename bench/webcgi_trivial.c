/* The baseline of the webcgi benchmark: the least a CGI program can do (one short answer on
 * standard output), started the same way as webcgi, so that the benchmark can give webcgi's
 * times as ratios against what the web server and process start cost anyway. */
#include <stdio.h>

int main(void)
{
    fputs("Content-type: text/plain\r\n\r\nOK", stdout);
    return 0;
}
