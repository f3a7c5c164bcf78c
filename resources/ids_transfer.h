#pragma once
// Resource ids of transfer/: the dispatcher, the bridge link and the transfer log.

// Strings
#define IDS_PRESET_PREFIX 183       // "[P] " before a preset format's name
#define IDS_DEST_NAME_BASE 194      // + destination type 1..5: the destination's name
#define IDS_DEST_KEYBOARD 195
#define IDS_DEST_CLIPBOARD 196
#define IDS_DEST_PORTAVO 197
#define IDS_DEST_CMDLINE 198
#define IDS_DEST_HTTP 199
#define IDS_EVENT_TRANSFER_OK 204
#define IDS_EVENT_TRANSFER_ERROR 205
#define IDS_PTV_START 220
#define IDS_PTV_STOP 221
#define IDS_PTV_RESTART 222
#define IDS_PTV_LISTEN_OPEN 223
#define IDS_PTV_LISTEN_FAILED 224
#define IDS_PTV_LISTEN_CLOSED 225
#define IDS_PTV_CONNECTED 226
#define IDS_PTV_BROKEN 227
#define IDS_PTV_REJECTED 228
#define IDS_PTV_CONNECT_ERROR 229
#define IDS_PTV_SENT 230
#define IDS_PTV_NOT_SENT 231
#define IDS_TRANSFER_LOG_TEXTS 239
#define IDS_TRANSFERRED_KEY 489
