// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#pragma once
// The fuzz targets link this instead of report/: the boxes are counted, never
// shown, so no widget and no QApplication is needed.

/* Plain message boxes that would have been shown. */
extern int PlainMessagesShown;
/* Error boxes (message boxes, result checks with a nonzero code, application errors). */
extern int ErrorBoxesShown;
