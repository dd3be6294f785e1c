/* The numbers the library's resources are known by, and the window styles their templates use.
 *
 * The one place these numbers are written: the resource scripts (TavixConnect.rc,
 * TavixConnectDEU.rc, dialogs.rci, version.rci) and the C++ both include this file, so it holds
 * plain #defines of plain numbers that the resource compiler and the C++ compiler both read.
 * The C++ wraps them in typed constants where they are used (resources/strings.h, the dialog
 * classes, platform::ws), never retyping a number.
 *
 * The styles carry Windows' names and numbers because the templates are Windows' format. Each
 * group is defined only when <windows.h> has not already defined it, so that C++ that sees both
 * compiles either way round (the system header's later definitions of the same numbers are not
 * diagnosed). */
#ifndef TAVIX_RESOURCES_RESOURCE_H
#define TAVIX_RESOURCES_RESOURCE_H

/* The product's name: the caption of the library's message boxes, the version record's names. */
#define TAVIX_PRODUCT_NAME "TavixConnect"

/* ---- Dialog templates ---------------------------------------------------------------------- */
#define IDD_CHANGE_ICON              100
#define IDD_CONNECTIONS              200
#define IDD_CONNECTION_PROPERTIES    300

/* ---- Controls ------------------------------------------------------------------------------ */
#ifndef IDOK
#define IDOK                         1   /* OK / Connect */
#define IDCANCEL                     2
#endif
#define IDC_STATIC                   (-1)
#define IDC_SAVE                     3   /* Connections */
#define IDC_BROWSE                   4   /* Change Icon */
#define IDC_CONNECTION_LIST          5   /* Connections: the list view */
#define IDC_ICON_BUTTON              6   /* Connection Properties */
#define IDC_ICON_ROWS                7   /* Change Icon: the owner-drawn list box */
#define IDC_FILE_NAME                8   /* Change Icon */
#define IDC_LIST_NAMESPACES          9   /* Connection Properties, hidden */
#define IDC_NAMESPACE_COMBO          10  /* Connection Properties, hidden */
#define IDC_CONNECTION_STRING        11  /* Connections: the chosen connection string */
#define IDC_NEW                      12  /* Connections */
#define IDC_PROPERTIES               13  /* Connections */
#define IDC_DELETE                   14  /* Connections */
#define IDC_NAME                     15  /* Connection Properties */
#define IDC_SERVER                   16  /* Connection Properties */
#define IDC_NAMESPACE                17  /* Connection Properties */
#define IDC_PORT                     18  /* Connection Properties */

/* ---- Strings (the string table spans IDS_PROPERTIES..IDS_SAVE_CAPTION) --------------------- */
#define IDS_PROPERTIES               2000
#define IDS_NEW_CONNECTION           2001
#define IDS_DELETE_CONNECTION        2002
#define IDS_CONNECTIONS_KEY          2003
#define IDS_ICON_KEY                 2004
#define IDS_ICON_INDEX_VALUE         2005
#define IDS_ICON_FILE_NAME_VALUE     2006
#define IDS_LOCAL                    2008
#define IDS_DEFAULT_NAMESPACE        2009
#define IDS_NO_ICONS_FOUND           2010
#define IDS_ICON_FILE_FILTER         2011
#define IDS_NAMELESS                 2012
#define IDS_DUPLICATE_WARNING        2014
#define IDS_SAVE_PROMPT              2015
#define IDS_SAVE_CAPTION             2016

/* ---- Icons (only ever read from the library's own module) ---------------------------------- */
#define IDI_CONNECTION               1011  /* the default connection icon */
#define IDI_MISSING                  1012  /* an icon file that yields no icon */

/* ---- Version record ------------------------------------------------------------------------ */
#ifndef VS_VERSION_INFO
#define VS_VERSION_INFO              1
#endif

/* ---- Window and control styles, as Windows numbers them ------------------------------------ */
#ifndef WS_POPUP
#define WS_POPUP                     0x80000000
#define WS_CHILD                     0x40000000
#define WS_VISIBLE                   0x10000000
#define WS_DISABLED                  0x08000000
#define WS_CAPTION                   0x00C00000
#define WS_BORDER                    0x00800000
#define WS_VSCROLL                   0x00200000
#define WS_HSCROLL                   0x00100000
#define WS_SYSMENU                   0x00080000
#define WS_GROUP                     0x00020000
#define WS_TABSTOP                   0x00010000
#define WS_EX_CLIENTEDGE             0x00000200

#define DS_SETFONT                   0x0040
#define DS_MODALFRAME                0x0080

#define BS_PUSHBUTTON                0x0000
#define BS_DEFPUSHBUTTON             0x0001
#define BS_ICON                      0x0040
#define BS_TYPEMASK                  0x000F

#define ES_LEFT                      0x0000
#define ES_AUTOHSCROLL               0x0080

#define SS_LEFT                      0x0000
#define SS_WHITEFRAME                0x0009
#define SS_CENTERIMAGE               0x0200
#define SS_SUNKEN                    0x1000

#define LBS_NOTIFY                   0x0001
#define LBS_SORT                     0x0002
#define LBS_OWNERDRAWFIXED           0x0010
#define LBS_OWNERDRAWVARIABLE        0x0020
#define LBS_HASSTRINGS               0x0040
#define LBS_NOINTEGRALHEIGHT         0x0100
#define LBS_WANTKEYBOARDINPUT        0x0400
#define LBS_DISABLENOSCROLL          0x1000

#define CBS_DROPDOWN                 0x0002
#define CBS_SORT                     0x0100
#endif /* WS_POPUP */

#ifndef LVS_ICON
#define LVS_ICON                     0x0000
#define LVS_SINGLESEL                0x0004
#define LVS_SHOWSELALWAYS            0x0008
#define LVS_SHAREIMAGELISTS          0x0040
#define LVS_AUTOARRANGE              0x0100
#define LVS_EDITLABELS               0x0200
#endif /* LVS_ICON */

/* The styles every dialog of the library and its kinds of control have. */
#define TAVIX_DIALOG_STYLE    (DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU)
#define TAVIX_BUTTON          (BS_PUSHBUTTON | WS_TABSTOP)
#define TAVIX_DEFAULT_BUTTON  (BS_DEFPUSHBUTTON | WS_TABSTOP)
#define TAVIX_EDIT            (ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP)
#define TAVIX_LABEL           (SS_LEFT | WS_GROUP)

#endif /* TAVIX_RESOURCES_RESOURCE_H */
