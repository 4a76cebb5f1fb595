/* Resource and control identifiers of the packer window, shared by packer.rc and the code. */
#ifndef LUMISAFE_RESOURCES_PACKER_IDS_H
#define LUMISAFE_RESOURCES_PACKER_IDS_H

#define IDI_PACKER 101

/* One dialog per language; the code picks one as the stub picks its texts. */
#define IDD_PACKER 101
#define IDD_PACKER_JA 102

#define IDC_INPUT 1001
#define IDC_INPUT_BROWSE 1002
#define IDC_PASSWORD 1003
#define IDC_CONFIRM 1004
#define IDC_CAPTION 1005
#define IDC_OPEN_AFTER 1006
#define IDC_SHOW_ENCODER 1007
#define IDC_SAVE_PASSWORD 1008
#define IDC_SELF_DELETE 1009
#define IDC_SEALED 1010
#define IDC_CLASSIC 1011
#define IDC_OUTPUT 1012
#define IDC_OUTPUT_BROWSE 1013
#define IDC_PROGRESS 1014
#define IDC_STATUS 1015
#define IDC_DROP_HINT 1016

#endif
