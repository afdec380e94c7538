/* Where the kernel's TCMU ring keeps each field, as byte offsets. The uapi
 * header's inline helpers are not valid C++, so the bridge reads and writes
 * the ring through these; tcmu_layout_check.c proves them against the header
 * at build time. Plain C so that file can include it too. */
#ifndef HALVORIN_SIM_TCMU_TCMU_LAYOUT_H
#define HALVORIN_SIM_TCMU_TCMU_LAYOUT_H

/* struct tcmu_mailbox, at the start of the mapping */
#define HALVORIN_TCMU_MB_VERSION 0   /* u16 */
#define HALVORIN_TCMU_MB_FLAGS 2     /* u16 */
#define HALVORIN_TCMU_MB_CMDR_OFF 4  /* u32: the command ring, from the mapping's start */
#define HALVORIN_TCMU_MB_CMDR_SIZE 8 /* u32 */
#define HALVORIN_TCMU_MB_CMD_HEAD 12 /* u32, written by the kernel */
#define HALVORIN_TCMU_MB_CMD_TAIL 64 /* u32, written by user space */

#define HALVORIN_TCMU_CAP_OOOC 0x1     /* completions may come out of order */
#define HALVORIN_TCMU_CAP_READ_LEN 0x2 /* a data-in answer may say how much it holds */
#define HALVORIN_TCMU_CAP_TMR 0x4      /* task management (aborts) is told to user space */

/* struct tcmu_cmd_entry_hdr, at the start of every entry */
#define HALVORIN_TCMU_ENTRY_LEN_OP 0 /* u32: length, low 3 bits the op */
#define HALVORIN_TCMU_ENTRY_CMD_ID 4 /* u16 */
#define HALVORIN_TCMU_ENTRY_UFLAGS 7 /* u8 */
#define HALVORIN_TCMU_OP_MASK 0x7
#define HALVORIN_TCMU_OP_PAD 0
#define HALVORIN_TCMU_OP_CMD 1
#define HALVORIN_TCMU_OP_TMR 2
#define HALVORIN_TCMU_UFLAG_READ_LEN 0x2

/* the request of a command entry */
#define HALVORIN_TCMU_REQ_IOV_CNT 8  /* u32 */
#define HALVORIN_TCMU_REQ_CDB_OFF 24 /* u64: the CDB, from the mapping's start */
#define HALVORIN_TCMU_REQ_IOV 48     /* struct iovec[]: base (an offset), length */
#define HALVORIN_TCMU_IOVEC_SIZE 16

/* the response written over the same entry */
#define HALVORIN_TCMU_RSP_STATUS 8    /* u8 */
#define HALVORIN_TCMU_RSP_READ_LEN 12 /* u32 */
#define HALVORIN_TCMU_RSP_SENSE 16    /* 96 bytes */
#define HALVORIN_TCMU_SENSE_SIZE 96

/* struct tcmu_tmr_entry */
#define HALVORIN_TCMU_TMR_CMD_CNT 12 /* u32 */
#define HALVORIN_TCMU_TMR_CMD_IDS 32 /* u16[] */

#endif
