/* Window and control style bits used by the dialog description (dialogs.def).
   Plain preprocessor definitions with the values of the Windows API, so that both
   the C++ tables and the Windows resource script can include this file. */
#ifndef VARMEX_RESOURCES_DIALOG_STYLES_H
#define VARMEX_RESOURCES_DIALOG_STYLES_H

#define VXS_NONE 0x0

/* Dialog frame */
#define VXS_POPUP 0x80000000
#define VXS_CAPTION 0x00C00000
#define VXS_SYSMENU 0x00080000
#define VXS_MODALFRAME 0x00000080
#define VXS_CENTER 0x00000800

/* Any control */
#define VXS_GROUP 0x00020000
#define VXS_TABSTOP 0x00010000
#define VXS_VSCROLL 0x00200000
#define VXS_BORDER 0x00800000

/* Edit control */
#define VXS_AUTOHSCROLL 0x00000080

/* Combo box */
#define VXS_DROPDOWN 0x00000002
#define VXS_SORT 0x00000100

#endif
