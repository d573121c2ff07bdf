/* The exchange block shared by the program and the replay filter element
 * "mr4f": 80 bytes, laid out field by field as below, in host byte order
 * (little-endian on every target). The program allocates and frees the
 * block, the frame buffer and the window token it names; it hands the block
 * to the element through the element's "exchange-block" property and reads
 * the element's "version" property back (MR4F_EXCHANGE_VERSION). The element
 * writes only the frame size and timing fields (when its input caps are set),
 * the sample counter (in a non-zero mode), the frame buffer contents and
 * nothing else. The block has no lock: the program writes its own fields
 * before it starts or seeks the stream, and reads the frame buffer after the
 * frame message of that frame has arrived. Durations are in 100-ns units.
 *
 * This header is plain C and is included by the plug-in (C) and by the
 * program (C++); the checks below pin every offset at compile time. */
#ifndef MR4F_EXCHANGE_H
#define MR4F_EXCHANGE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version the element reports; the program refuses any other. */
#define MR4F_EXCHANGE_VERSION 200

/* Name of the element message the element posts for every frame, after the
 * copy and before the frame goes downstream. Its fields: "window" (pointer,
 * the block's window token), "pts" (guint64 clock time, the frame's
 * timestamp or GST_CLOCK_TIME_NONE) and "delivered" (boolean, FALSE when a
 * non-zero mode keeps the frame outside the sample window). */
#define MR4F_FRAME_MESSAGE "mr4f-frame"

/* Frame duration used when the input declares none or one below 1 ms:
 * 29.97 frames per second. */
#define MR4F_DEFAULT_FRAME_DURATION 333667

typedef struct Mr4fExchangeBlock {
  /* Written by the program. */
  int32_t field_interpolation; /*  0: non-zero = rebuild one field per frame */
  int32_t field_parity;        /*  4: 0 = even lines from line 2,
                                *     non-zero = odd lines from line 3
                                *     (lines counted from the bottom) */
  int32_t mode;                /*  8: 0 = BGR input, every frame delivered;
                                *     non-zero = YUV input, only the sample
                                *     window delivered */
  int32_t sample_counter;      /* 12: counted by the element in a non-zero
                                *     mode; left alone in mode 0 */
  int32_t first_sample;        /* 16: non-zero mode: first sample delivered */
  int32_t last_sample;         /* 20: non-zero mode: last sample delivered,
                                *     negative = no upper limit */
  int32_t unused;              /* 24: not read by the element */

  /* Written by the element when its input caps are set. */
  int32_t width;               /* 28: frame width [px] */
  int32_t height;              /* 32: frame height [px], always positive */
  int32_t padding;             /* 36 */
  double frames_per_second;    /* 40: 10 000 000 / frame_duration */
  int32_t frame_duration;      /* 48: [100 ns] */
  int32_t field_duration;      /* 52: frame_duration / 2 [100 ns] */

  /* Written by the program; the element copies each frame into it. */
  uint8_t *frame_buffer;       /* 56: frame_bytes bytes, rows bottom-up and
                                *     packed; NULL = no copy */

  /* Written by the element with the size fields. */
  int32_t pixel_count;         /* 64: width * height */
  int32_t frame_bytes;         /* 68: width * height * 3 (GRAY8: width *
                                *     height), bytes per copy */

  /* Written by the program. */
  void *window;                /* 72: token carried by the frame message;
                                *     NULL = no frame message */
} Mr4fExchangeBlock;

#ifdef __cplusplus
#define MR4F_STATIC_ASSERT(cond, text) static_assert(cond, text)
#else
#define MR4F_STATIC_ASSERT(cond, text) _Static_assert(cond, text)
#endif

MR4F_STATIC_ASSERT(sizeof(void *) == 8, "the exchange block needs 64-bit pointers");
MR4F_STATIC_ASSERT(sizeof(double) == 8, "the exchange block needs 8-byte doubles");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, field_interpolation) == 0, "offset 0");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, field_parity) == 4, "offset 4");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, mode) == 8, "offset 8");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, sample_counter) == 12, "offset 12");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, first_sample) == 16, "offset 16");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, last_sample) == 20, "offset 20");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, unused) == 24, "offset 24");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, width) == 28, "offset 28");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, height) == 32, "offset 32");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, padding) == 36, "offset 36");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, frames_per_second) == 40, "offset 40");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, frame_duration) == 48, "offset 48");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, field_duration) == 52, "offset 52");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, frame_buffer) == 56, "offset 56");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, pixel_count) == 64, "offset 64");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, frame_bytes) == 68, "offset 68");
MR4F_STATIC_ASSERT(offsetof(Mr4fExchangeBlock, window) == 72, "offset 72");
MR4F_STATIC_ASSERT(sizeof(Mr4fExchangeBlock) == 80, "the exchange block is 80 bytes");

#undef MR4F_STATIC_ASSERT

#ifdef __cplusplus
}
#endif

#endif /* MR4F_EXCHANGE_H */
