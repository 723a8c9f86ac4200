#pragma once
// File names are bytes; Qt's widgets hold text. A name is shown as its UTF-8 text where it is
// valid UTF-8, and each byte that is not is kept as a lone surrogate (U+DC80..U+DCFF) that
// turns back into that very byte, so every name survives the trip through a widget unchanged.
#include <QString>

#include <string>
#include <string_view>

class QUrl;

namespace tarnwick {

QString pathToText(std::string_view path);
std::string textToPath(const QString& text);

// The case-insensitive key of a name for the list's duplicate rule: letters of the valid UTF-8
// parts are case-folded, stray bytes compare as themselves.
QString pathKey(const QString& text);

// The local path of a file URL as its bytes (percent-escapes decoded as bytes, not as UTF-8).
std::string urlToPath(const QUrl& url);

// A name the platform's file dialogs can be given: `path` itself when it is valid UTF-8,
// otherwise its longest leading folder that is (Qt's choosers cannot name the others).
std::string nearestTextFolder(const std::string& path);

// Turns a name given back by Qt's file dialogs, whose non-UTF-8 bytes Qt has replaced, into
// the name of the file on disk: each component that does not exist as written is matched
// against the folder's entries as Qt shows them. Unmatched components stay as given.
std::string pathOnDisk(const QString& shown);

} // namespace tarnwick
