/* Prints whether a serial port's driver has ASYNC_LOW_LATENCY set, as the guest of
 * scripts/test-vm sees it: busybox has no setserial. Opening a tty that another process holds
 * changes nothing on the line, so the probe is harmless while a download runs. */
#include <fcntl.h>
#include <linux/serial.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: serial-flags DEVICE\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    struct serial_struct info;
    if (ioctl(fd, TIOCGSERIAL, &info) != 0) {
        perror("TIOCGSERIAL");
        close(fd);
        return 1;
    }
    close(fd);
    printf("low_latency=%d\n", (info.flags & ASYNC_LOW_LATENCY) ? 1 : 0);
    return 0;
}
