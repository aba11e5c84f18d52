/* The termios speed codes and their baud rates, for the simulator, the preload library and any
 * test that plays the host on a pty (C and C++). */
#ifndef HYDSIM_LINE_SPEED_H
#define HYDSIM_LINE_SPEED_H

#include <stddef.h>
#include <termios.h>

static const struct {
    speed_t code;
    int baud;
} hydsim_speeds[] = {{B50, 50},         {B75, 75},         {B110, 110},       {B134, 134},
                     {B150, 150},       {B200, 200},       {B300, 300},       {B600, 600},
                     {B1200, 1200},     {B1800, 1800},     {B2400, 2400},     {B4800, 4800},
                     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},   {B57600, 57600},
                     {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600}};

/* 0 for a code not in the table. */
static inline int hydsim_baud_of(speed_t code) {
    for (size_t i = 0; i < sizeof hydsim_speeds / sizeof hydsim_speeds[0]; ++i)
        if (hydsim_speeds[i].code == code) return hydsim_speeds[i].baud;
    return 0;
}

/* B0 for a rate not in the table. */
static inline speed_t hydsim_speed_of(int baud) {
    for (size_t i = 0; i < sizeof hydsim_speeds / sizeof hydsim_speeds[0]; ++i)
        if (hydsim_speeds[i].baud == baud) return hydsim_speeds[i].code;
    return B0;
}

#endif
