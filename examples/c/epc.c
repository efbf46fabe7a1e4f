/* The GS1 identity of an EPC, and the EPC of an identity.
 * Usage: epc [HEX]   (default: 3074257BF7194E4000001A85, an SGTIN-96) */
#include <stdio.h>

#include <morvent.h>

int main(int argc, char **argv) {
    const char *hex = argc > 1 ? argv[1] : "3074257BF7194E4000001A85";
    unsigned char epc[64];
    int size = 0;
    while (size < 64 && hex[2 * size] && sscanf(hex + 2 * size, "%2hhx", &epc[size]) == 1) ++size;

    /* One call per part; MORVENT_EPC_TEXT_ROOM holds any of them. */
    char text[MORVENT_EPC_TEXT_ROOM];
    if (MorventEpcDecode(epc, size, MORVENT_EPC_PART_URI, text, sizeof text) != MORVENT_OK) {
        printf("not a GS1 EPC: %s\n", text); /* the reason */
        return 1;
    }
    printf("pure identity   %s\n", text);
    MorventEpcDecode(epc, size, MORVENT_EPC_PART_TAG_URI, text, sizeof text);
    printf("tag URI         %s\n", text);
    /* A GID has no element string: MORVENT_EPC_NO_PART. */
    if (MorventEpcDecode(epc, size, MORVENT_EPC_PART_ELEMENT_STRING, text, sizeof text) == MORVENT_OK)
        printf("element string  %s\n", text);
    if (MorventEpcDecode(epc, size, MORVENT_EPC_PART_DIGITAL_LINK, text, sizeof text) == MORVENT_OK)
        printf("Digital Link    %s\n", text);

    /* Back again, with filter 3 in the shortest scheme that holds it. */
    unsigned char encoded[MORVENT_EPC_MAX_BYTES];
    int encoded_size = 0;
    char message[MORVENT_EPC_TEXT_ROOM];
    if (MorventEpcEncode("urn:epc:id:sgtin:0614141.812345.6789", 3, 0, 0, encoded, &encoded_size, message,
                         sizeof message) == MORVENT_OK) {
        printf("encoded         ");
        for (int i = 0; i < encoded_size; ++i) printf("%02X", encoded[i]);
        printf("\n");
    }
    /* A refusal names the rule the identity breaks. */
    if (MorventEpcEncode("urn:epc:id:sgtin:0614141.812345.274877906944", 3, 96, 0, encoded, &encoded_size, message,
                         sizeof message) == MORVENT_EPC_REFUSED)
        printf("refused         %s\n", message);
    return 0;
}
