/* Resource IDs of the monitor: string table entries and the progress dialog. Read by the
   resource compiler as well as by C++, so only #define lines belong here. */
#ifndef LANGMON_RESOURCE_IDS_H
#define LANGMON_RESOURCE_IDS_H

#define IDS_ALIGN_QUESTION 400
#define IDS_MONITOR_CAPTION 411
#define IDS_CHANGE_CARTRIDGE 427
#define IDS_OUT_OF_STOCK 436
#define IDS_UNRECOVERABLE_ERROR 440
#define IDS_RESTART_JOB 443
#define IDS_INVALID_CARTRIDGE 445
#define IDS_NO_CARTRIDGE 450
#define IDS_ALIGN_VALUES_INVALID 453
#define IDS_NO_STATUS 454
#define IDS_NO_COMMUNICATION 455
#define IDS_NO_CARTRIDGE_INFO 464
#define IDS_ALIGN_FILE_COLOR 467
#define IDS_TOF_ERROR 468
#define IDS_INK_LOW 469
#define IDS_INK_EMPTY 470
#define IDS_UNLOAD_STOCK 472
#define IDS_ALIGN_FILE_BLACK 473
/* Asked when an alignment fails; the string table holds no text for it, so it is never shown. */
#define IDS_ALIGN_FAILED 422

#define IDD_ALIGN_PROGRESS 433
#define IDC_ALIGN_PROGRESS_TEXT 432
#define ALIGN_PROGRESS_CAPTION "Aligning the Printer..."

#endif
