/* Resource identifiers of the command-line tool, shared by tool.rc and the code. */
#ifndef LUMISAFE_RESOURCES_TOOL_IDS_H
#define LUMISAFE_RESOURCES_TOOL_IDS_H

#define IDI_TOOL 101
/* The decoder stub the tool prepends to every self-decoding file (RCDATA). */
#define IDR_DECODER_STUB 201

#endif
