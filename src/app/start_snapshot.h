// A picture of the main window once it shows its start page: the program's headless run saves
// one instead of waiting for a user.
#pragma once

#include <QImage>
#include <QString>

#include <functional>

// Whether image shows more than one flat colour (a page that has drawn something).
bool imageHasContent(const QImage& image);

// Waits (inside the event loop) until the main window is shown, its page has loaded and two
// pictures of it in a row are the same and have content, then saves the picture to path (PNG)
// and calls done(true). After timeoutMs without that it calls done(false) and saves nothing.
void snapshotStartPage(const QString& path, int timeoutMs, const std::function<void(bool)>& done);
