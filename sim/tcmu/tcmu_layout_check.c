/* Fails the build when the kernel's TCMU ring layout is not the one
 * tcmu_layout.h describes. */
#include <stddef.h>
#include <sys/uio.h>
/* both headers define struct iovec */
#define __LINUX_UIO_H
#include <linux/target_core_user.h>

#include "sim/tcmu/tcmu_layout.h"

#define SAME(a, b) _Static_assert((a) == (b), #a " differs from the kernel's " #b)

SAME(HALVORIN_TCMU_MB_VERSION, offsetof(struct tcmu_mailbox, version));
SAME(HALVORIN_TCMU_MB_FLAGS, offsetof(struct tcmu_mailbox, flags));
SAME(HALVORIN_TCMU_MB_CMDR_OFF, offsetof(struct tcmu_mailbox, cmdr_off));
SAME(HALVORIN_TCMU_MB_CMDR_SIZE, offsetof(struct tcmu_mailbox, cmdr_size));
SAME(HALVORIN_TCMU_MB_CMD_HEAD, offsetof(struct tcmu_mailbox, cmd_head));
SAME(HALVORIN_TCMU_MB_CMD_TAIL, offsetof(struct tcmu_mailbox, cmd_tail));
SAME(HALVORIN_TCMU_CAP_OOOC, TCMU_MAILBOX_FLAG_CAP_OOOC);
SAME(HALVORIN_TCMU_CAP_READ_LEN, TCMU_MAILBOX_FLAG_CAP_READ_LEN);
SAME(HALVORIN_TCMU_CAP_TMR, TCMU_MAILBOX_FLAG_CAP_TMR);
SAME(HALVORIN_TCMU_ENTRY_LEN_OP, offsetof(struct tcmu_cmd_entry, hdr.len_op));
SAME(HALVORIN_TCMU_ENTRY_CMD_ID, offsetof(struct tcmu_cmd_entry, hdr.cmd_id));
SAME(HALVORIN_TCMU_ENTRY_UFLAGS, offsetof(struct tcmu_cmd_entry, hdr.uflags));
SAME(HALVORIN_TCMU_OP_MASK, TCMU_OP_MASK);
SAME(HALVORIN_TCMU_OP_PAD, TCMU_OP_PAD);
SAME(HALVORIN_TCMU_OP_CMD, TCMU_OP_CMD);
SAME(HALVORIN_TCMU_OP_TMR, TCMU_OP_TMR);
SAME(HALVORIN_TCMU_UFLAG_READ_LEN, TCMU_UFLAG_READ_LEN);
SAME(HALVORIN_TCMU_REQ_IOV_CNT, offsetof(struct tcmu_cmd_entry, req.iov_cnt));
SAME(HALVORIN_TCMU_REQ_CDB_OFF, offsetof(struct tcmu_cmd_entry, req.cdb_off));
SAME(HALVORIN_TCMU_REQ_IOV, offsetof(struct tcmu_cmd_entry, req.iov));
SAME(HALVORIN_TCMU_IOVEC_SIZE, sizeof(struct iovec));
SAME(HALVORIN_TCMU_RSP_STATUS, offsetof(struct tcmu_cmd_entry, rsp.scsi_status));
SAME(HALVORIN_TCMU_RSP_READ_LEN, offsetof(struct tcmu_cmd_entry, rsp.read_len));
SAME(HALVORIN_TCMU_RSP_SENSE, offsetof(struct tcmu_cmd_entry, rsp.sense_buffer));
SAME(HALVORIN_TCMU_SENSE_SIZE, TCMU_SENSE_BUFFERSIZE);
SAME(HALVORIN_TCMU_TMR_CMD_CNT, offsetof(struct tcmu_tmr_entry, cmd_cnt));
SAME(HALVORIN_TCMU_TMR_CMD_IDS, offsetof(struct tcmu_tmr_entry, cmd_ids));

/* an object file must hold something */
int halvorin_tcmu_layout_checked(void) { return 1; }
