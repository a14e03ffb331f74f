/* What the RAM loader reports in the chip's scratch registers while it runs, for a debugger
 * (and the emulated chip) to read. The loader only writes them; nothing in the protocol
 * depends on them. */
#ifndef TARVOK_FIRMWARE_LOADER_STATUS_H
#define TARVOK_FIRMWARE_LOADER_STATUS_H

#define LOADER_STATUS_FLAGS 0u        /* LOADER_FLAG_* bits */
#define LOADER_STATUS_PROBES 1u       /* baud probes echoed */
#define LOADER_STATUS_ECHO_BYTES 2u   /* echo-test bytes echoed */
#define LOADER_STATUS_BLOCKS 3u       /* image blocks accepted */
#define LOADER_STATUS_REJECTIONS 4u   /* image blocks rejected */
#define LOADER_STATUS_HARD_RESYNCS 5u /* 0xB6 received before a re-synchronisation */

#define LOADER_FLAG_HELLO_SENT 0x01u
#define LOADER_FLAG_ERASED 0x02u       /* at least one sector erased */
#define LOADER_FLAG_TRAILER_SENT 0x04u /* the image stream's closing bytes went out */
#define LOADER_FLAG_STREAM_OK 0x08u    /* ...and said success */
#define LOADER_FLAG_FINISHED 0x10u     /* 0xE5 received */

#endif
