// The Linux (glibc, x86-64) layout of struct termios, so that the shared
// fake-reader header compiles for Windows. The Linux helper serves the
// pty's settings as raw bytes of this layout.
#pragma once

typedef unsigned char cc_t;
typedef unsigned int speed_t;
typedef unsigned int tcflag_t;

#define NCCS 32
struct termios {
    tcflag_t c_iflag;
    tcflag_t c_oflag;
    tcflag_t c_cflag;
    tcflag_t c_lflag;
    cc_t c_line;
    cc_t c_cc[NCCS];
    speed_t c_ispeed;
    speed_t c_ospeed;
};

// c_cflag bits and rates the suites use.
#define CSIZE 0000060
#define CS8 0000060
#define CSTOPB 0000100
#define PARENB 0000400
#define CBAUD 0010017
#define CBAUDEX 0010000
#define B9600 0000015
#define B19200 0000016
#define B38400 0000017
#define B57600 0010001
#define B115200 0010002

// The rate is the CBAUD field of c_cflag, as the C library keeps it.
static inline speed_t cfgetospeed(const struct termios* t) { return t->c_cflag & CBAUD; }
static inline speed_t cfgetispeed(const struct termios* t) { return t->c_cflag & CBAUD; }
static inline int cfsetospeed(struct termios* t, speed_t speed) {
    t->c_cflag = (t->c_cflag & ~(tcflag_t)CBAUD) | (speed & CBAUD);
    return 0;
}
static inline int cfsetispeed(struct termios* t, speed_t speed) { return cfsetospeed(t, speed); }
