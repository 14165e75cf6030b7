// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

#include "ReadMeText.h"

#include <QFile>
#include <QFileInfo>

QString ReadMeText(const QString& path) {
    // Only a regular file: opening a FIFO would block start-up until a writer appears.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > MaxReadMeBytes)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.read(MaxReadMeBytes + 1);
    if (bytes.size() > MaxReadMeBytes)
        return {}; // it grew since we looked

    QString text = QString::fromLocal8Bit(bytes);
    text.replace(QChar(0), QChar::ReplacementCharacter);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    if (text.endsWith(u'\n'))
        text.chop(1); // a final line break ends the last line; it starts no new one
    return text;
}
