/* Lists the Gen2 tags a network reader sees.
 * Usage: list_tags HOST PORT   (e.g. list_tags localhost 6000) */
#include <stdio.h>
#include <stdlib.h>

#include <morvent.h>

int main(int argc, char **argv) {
    const char *host = argc > 1 ? argv[1] : "127.0.0.1";
    int tcp_port = argc > 2 ? atoi(argv[2]) : 6000;

    /* OpenNetPort takes a dotted address; a host name is looked up first. */
    char ip[16];
    int status = MorventResolveHost(host, ip);
    if (status != MORVENT_OK) {
        fprintf(stderr, "unknown host %s (status 0x%02X)\n", host, status);
        return 1;
    }

    /* Opening handshakes with whichever reader answers: its address and the
     * port index for every later call come back through the pointers. */
    unsigned char address = 0xFF;
    int port = -1;
    status = OpenNetPort(tcp_port, ip, &address, &port);
    if (status != MORVENT_OK) {
        fprintf(stderr, "cannot open %s:%d: status 0x%02X\n", host, tcp_port, status);
        return 1;
    }

    /* No selection mask, no TID: every tag in the field. The caller provides
     * the room the header states (5000 bytes for the tag records). */
    unsigned char mask_address[2] = {0, 0}, mask[1] = {0};
    unsigned char records[5000], frame_info = 0;
    int length = 0, count = 0;
    status = Inventory_G2(&address, 0, mask_address, 0, mask, 0, 0, 0, 0, records, &frame_info, &length, &count, port);
    if (status == 0xFB) {
        printf("no tag in the field\n");
    } else if (status >= 0x01 && status <= 0x04) {
        /* Each record: one length byte, then that many EPC bytes. */
        for (int at = 0; at < length && at + 1 + records[at] <= length; at += 1 + records[at]) {
            printf("EPC ");
            for (int i = 0; i < records[at]; ++i) printf("%02X", records[at + 1 + i]);
            printf("\n");
        }
    } else {
        fprintf(stderr, "inventory failed: status 0x%02X\n", status);
    }

    CloseNetPort(port);
    return status == 0xFB || (status >= 0x01 && status <= 0x04) ? 0 : 1;
}
