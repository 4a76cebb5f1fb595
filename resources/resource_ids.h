/* Resource and control identifiers, shared by stub.rc and the code. */
#ifndef LUMISAFE_RESOURCES_RESOURCE_IDS_H
#define LUMISAFE_RESOURCES_RESOURCE_IDS_H

#define IDI_PROGRAM 101

#define IDD_PASSWORD 101
#define IDC_PASSWORD_EDIT 1000
#define IDC_SELF_DELETE 1002
#define IDC_PROMPT 1003
#define IDC_SAVE_PASSWORD 1004

#define IDD_ENCODER_INFO 102
#define IDC_INFO_TEXT 1004
#define IDC_SET_NAME 1005
#define IDC_NAME_EDIT 1006

#endif
