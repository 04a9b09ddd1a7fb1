// Identifiers of the module's resources, shared by the resource script and the code.
#pragma once

#define IDD_PROGRESS 101
#define IDC_PROGRESS_TEXT 1001
#define IDC_PROGRESS_BAR 1002
#define IDC_PROGRESS_STATUS 1003

// The player's texts: one string table entry each, in every language the module carries
// (resources/texts/*.rc). Their keys and placeholders are named in patch/player_texts.cpp.
#define IDS_CAPTION 2000
#define IDS_WAITING_FOR_LAUNCHER 2001
#define IDS_RESTORING 2002
#define IDS_UPDATING_FILE 2003
#define IDS_RETRYING 2004
#define IDS_RETRYING_HELD_FILE 2005
#define IDS_REASON_NUMBER 2006
#define IDS_REASON_RESULT 2007
#define IDS_REVERTING 2008
#define IDS_PATCH_FAILED 2009
#define IDS_PATCH_FAILED_REASON 2010
#define IDS_RESTART_FAILED 2011
#define IDS_WAITING_FOR_OTHER_RUN 2012
#define IDS_RESTORING_FILE 2013
#define IDS_ASK_RETRY_HELD_FILE 2014
#define IDS_ASK_RETRY 2015
