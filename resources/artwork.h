#pragma once
// The window's pictures, drawn for this program in code: the application icon (resource 128),
// the small About picture (bitmap 134, also shown on the panel) and the trigger timing diagram
// of the "Help" window (bitmap 137). Painting needs a QGuiApplication (fonts); call these on the
// window thread only.

#include <QIcon>
#include <QImage>
#include <QPixmap>

constexpr int IDI_MAINFRAME = 128;
constexpr int IDB_ABOUT = 134;
constexpr int IDB_TRIGGER_HELP = 137;

// Natural sizes of the two bitmaps, in pixels.
constexpr int kAboutBitmapWidth = 110;
constexpr int kAboutBitmapHeight = 80;
constexpr int kHelpBitmapWidth = 721;
constexpr int kHelpBitmapHeight = 551;

// The bitmap with that resource number at its natural size; a null pixmap for any other number.
QPixmap LoadBitmapResource(int id);
// The icon with that resource number (16 to 256 pixels); a null icon for any other number.
QIcon LoadIconResource(int id);

// The painters behind them, for a given size (the icon) or at natural size.
QImage PaintIcon(int size);
QImage PaintAboutPicture();
// The About picture and the window's icon sizes (16, 32, 48) as rendered at build time and
// built into the window programs; a null image in a program without them.
QImage BuiltAboutPicture();
QImage BuiltIcon(int side);
// The family of the captions' own font (resources/CMakeLists.txt names it so when it cuts it
// out of the system's Noto Sans CJK KR), and its installation for this program's text: false
// where it is not built in or the font system refused it. After the application object.
inline constexpr char kCaptionFontFamily[] = "Lumitrax Captions";
bool InstallCaptionFont();

// The form they are built in: a 16-byte header ("LXPX", then width, height and QImage format
// as 32-bit numbers in the machine's order) and the rows of premultiplied ARGB pixels. Empty
// for a null image; a null image for bytes not of that form.
QByteArray PicturePixels(const QImage& image);
QImage PictureFromPixels(const QByteArray& bytes);
QImage PaintTriggerHelpPicture();
