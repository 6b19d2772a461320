#include "pictures.h"

#include <QPainter>
#include <QPolygon>
#include <array>
#include <initializer_list>

namespace {

const QColor kBlack(0, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kOlive(128, 128, 0);
const QColor kNavy(0, 0, 128);
const QColor kTeal(0, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);
const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kMagenta(255, 0, 255);
const QColor kCyan(0, 255, 255);
const QColor kWhite(255, 255, 255);
const QColor kLightBrown(204, 166, 102);

// Pixel art: no antialiasing, one-pixel pens.
class CCanvas {
public:
    CCanvas(int nWidth, int nHeight) : m_image(nWidth, nHeight, QImage::Format_ARGB32) {
        m_image.fill(Qt::transparent);
        m_painter.begin(&m_image);
        m_painter.setRenderHint(QPainter::Antialiasing, false);
    }
    QImage Finish() {
        m_painter.end();
        return m_image;
    }
    QPainter& P() { return m_painter; }

    void Line(int x1, int y1, int x2, int y2, const QColor& color) {
        m_painter.setPen(color);
        m_painter.drawLine(x1, y1, x2, y2);
    }
    void Pixel(int x, int y, const QColor& color) {
        m_painter.setPen(color);
        m_painter.drawPoint(x, y);
    }
    // Filled rectangle with corners (x1, y1) and (x2, y2), both included.
    void Fill(int x1, int y1, int x2, int y2, const QColor& color) {
        m_painter.fillRect(QRect(QPoint(x1, y1), QPoint(x2, y2)), color);
    }
    void Frame(int x1, int y1, int x2, int y2, const QColor& fill, const QColor& outline) {
        Fill(x1, y1, x2, y2, fill);
        m_painter.setPen(outline);
        m_painter.setBrush(Qt::NoBrush);
        m_painter.drawRect(QRect(QPoint(x1, y1), QPoint(x2 - 1, y2 - 1)));
    }
    void Polygon(std::initializer_list<QPoint> points, const QColor& fill, const QColor& outline) {
        m_painter.setPen(outline);
        m_painter.setBrush(fill);
        m_painter.drawPolygon(QPolygon(QList<QPoint>(points)));
        m_painter.setBrush(Qt::NoBrush);
    }
    void Disc(int x, int y, int nDiameter, const QColor& fill, const QColor& outline) {
        m_painter.setPen(outline);
        m_painter.setBrush(fill);
        m_painter.drawEllipse(QRect(x, y, nDiameter - 1, nDiameter - 1));
        m_painter.setBrush(Qt::NoBrush);
    }
    // A glyph of rows of '#' and '.', starting at (x, y).
    void Glyph(int x, int y, std::initializer_list<const char*> rows, const QColor& color) {
        int dy = 0;
        for (const char* pszRow : rows) {
            for (int dx = 0; pszRow[dx] != '\0'; ++dx) {
                if (pszRow[dx] == '#') {
                    Pixel(x + dx, y + dy, color);
                }
            }
            ++dy;
        }
    }

private:
    QImage m_image;
    QPainter m_painter;
};

// The motifs shared by the tree and the toolbar fit 16 by 15 pixels.

void DrawAxes(CCanvas& c) {
    const auto axes = [&](int dx, int dy, const QColor& color) {
        c.Line(5 + dx, 9 + dy, 14 + dx, 9 + dy, color);  // x
        c.Line(13 + dx, 8 + dy, 13 + dx, 10 + dy, color);
        c.Line(5 + dx, 9 + dy, 5 + dx, 1 + dy, color);  // y
        c.Line(4 + dx, 2 + dy, 6 + dx, 2 + dy, color);
        c.Line(5 + dx, 9 + dy, 1 + dx, 13 + dy, color);  // z
        c.Line(1 + dx, 12 + dy, 2 + dx, 13 + dy, color);
    };
    axes(1, 1, kOlive);
    axes(0, 0, kYellow);
}

void DrawSolidCube(CCanvas& c, int x, int y, int nSize, int nDepth, const QColor& front,
                   const QColor& top, const QColor& side, const QColor& outline) {
    const int x2 = x + nSize;
    const int y2 = y + nSize;
    c.Polygon({{x, y}, {x + nDepth, y - nDepth}, {x2 + nDepth, y - nDepth}, {x2, y}}, top, outline);
    c.Polygon({{x2, y}, {x2 + nDepth, y - nDepth}, {x2 + nDepth, y2 - nDepth}, {x2, y2}}, side,
              outline);
    c.Polygon({{x, y}, {x2, y}, {x2, y2}, {x, y2}}, front, outline);
}

void DrawRedCube(CCanvas& c) {
    DrawSolidCube(c, 2, 5, 8, 3, kRed, kRed, kMaroon, kBlack);
}

void DrawFilmStrip(CCanvas& c) {
    c.Fill(3, 0, 12, 14, kBlack);
    for (int y = 1; y < 15; y += 2) {
        c.Pixel(4, y, kWhite);
        c.Pixel(11, y, kWhite);
    }
    c.Fill(6, 1, 9, 4, kTeal);
    c.Fill(6, 6, 9, 9, kCyan);
    c.Fill(6, 11, 9, 13, kTeal);
}

void DrawWireCube(CCanvas& c) {
    c.P().setPen(kCyan);
    c.P().setBrush(Qt::NoBrush);
    c.P().drawRect(5, 1, 8, 8);  // back
    c.P().drawRect(2, 4, 8, 8);  // front
    c.Line(2, 4, 5, 1, kCyan);
    c.Line(10, 4, 13, 1, kCyan);
    c.Line(10, 12, 13, 9, kCyan);
    c.Line(2, 12, 5, 9, kCyan);
    c.Line(7, 8, 9, 8, kRed);
    c.Line(7, 8, 7, 6, kGreen);
    c.Pixel(6, 9, kBlue);
}

void DrawSpheres(CCanvas& c) {
    c.Disc(0, 0, 7, kBlue, kNavy);
    c.Disc(9, 0, 7, kWhite, kGrey);
    c.Disc(0, 8, 7, kGreen, kGreen.darker());
    c.Disc(9, 8, 7, kRed, kMaroon);
    for (const QPoint& p : {QPoint(2, 2), QPoint(2, 10), QPoint(11, 10)}) {
        c.Pixel(p.x(), p.y(), kWhite);
    }
    DrawSolidCube(c, 6, 7, 3, 1, kRed, kRed, kMaroon, kBlack);
}

void DrawCheckerboard(CCanvas& c) {
    c.Fill(1, 1, 14, 13, kLightBrown);
    for (int y = 3; y <= 11; ++y) {
        for (int x = 3; x <= 12; ++x) {
            c.Pixel(x, y, ((x - 3) / 2 + (y - 3) / 2) % 2 ? kWhite : kBlack);
        }
    }
}

void DrawGem(CCanvas& c) {
    c.Polygon({{4, 2}, {11, 2}, {14, 5}, {7, 13}, {1, 5}}, kGreen, kGreen.darker());
    c.Polygon({{4, 2}, {11, 2}, {13, 5}, {2, 5}}, kLime, kGreen.darker());
    c.Line(5, 5, 7, 12, kLime);
    c.Line(10, 5, 8, 12, kLime);
}

void DrawPage(CCanvas& c, int x, int y, int x2, int y2) {
    c.Polygon({{x, y}, {x2 - 3, y}, {x2, y + 3}, {x2, y2}, {x, y2}}, kWhite, kBlack);
    c.Line(x2 - 3, y, x2 - 3, y + 3, kBlack);
    c.Line(x2 - 3, y + 3, x2, y + 3, kBlack);
}

void DrawFolder(CCanvas& c) {
    c.Polygon({{1, 3}, {5, 3}, {6, 4}, {11, 4}, {11, 13}, {1, 13}}, kOlive, kBlack);
    c.Polygon({{1, 13}, {4, 7}, {15, 7}, {12, 13}}, kYellow, kBlack);
}

void DrawScissors(CCanvas& c) {
    c.Line(5, 9, 10, 0, kGrey);
    c.Line(10, 9, 5, 0, kGrey);
    c.Line(6, 9, 10, 2, kBlack);
    c.Line(9, 9, 5, 2, kBlack);
    c.Disc(1, 9, 5, Qt::transparent, kBlack);
    c.Disc(10, 9, 5, Qt::transparent, kBlack);
}

void DrawCopy(CCanvas& c) {
    DrawPage(c, 1, 0, 9, 9);
    DrawPage(c, 6, 5, 14, 14);
    for (int y = 8; y <= 12; y += 2) {
        c.Line(8, y, 12, y, kNavy);
    }
}

void DrawClipboard(CCanvas& c) {
    c.Frame(2, 2, 13, 15, kOlive, kBlack);
    c.Fill(4, 4, 11, 13, kWhite);
    c.Frame(5, 0, 10, 4, kSilver, kBlack);
    for (int y = 6; y <= 11; y += 2) {
        c.Line(5, y, 10, y, kNavy);
    }
}

void DrawPrinter(CCanvas& c) {
    c.Frame(4, 0, 12, 6, kWhite, kBlack);
    c.Frame(1, 5, 15, 12, kSilver, kBlack);
    c.Line(3, 7, 12, 7, kGrey);
    c.Pixel(12, 9, kLime);
    c.Frame(4, 10, 12, 15, kWhite, kBlack);
}

void DrawQuestionMark(CCanvas& c) {
    const std::initializer_list<const char*> glyph = {
        ".#####.", "##...##", "##...##", "....##.", "...##..",
        "...##..", "...##..", ".......", "...##..", "...##..",
    };
    c.Glyph(5, 3, glyph, kBlack);
    c.Glyph(4, 2, glyph, kYellow);
}

using Motif = void (*)(CCanvas&);

// A black cube with a cyan letter on its front face.
void DrawLetteredCube(CCanvas& c, int x, int y, int nSize, int nDepth,
                      std::initializer_list<const char*> glyph, int nGlyphWidth) {
    DrawSolidCube(c, x, y, nSize, nDepth, kBlack, kBlack, kBlack, kGrey);
    const int nGlyphHeight = static_cast<int>(glyph.size());
    c.Glyph(x + (nSize - nGlyphWidth + 1) / 2, y + (nSize - nGlyphHeight + 1) / 2, glyph, kCyan);
}

}  // namespace

QImage TreeImage(int nIndex) {
    static constexpr std::array<Motif, 8> kMotifs = {
        nullptr,      DrawAxes,    DrawRedCube,      DrawFilmStrip,
        DrawWireCube, DrawSpheres, DrawCheckerboard, DrawGem,
    };
    CCanvas c(16, 16);
    if (nIndex >= 11) {
        c.Fill(0, 0, 15, 15, kMagenta);
    } else if (nIndex >= 1 && nIndex < 8) {
        kMotifs[static_cast<size_t>(nIndex)](c);
    }
    return c.Finish();
}

QList<QIcon> TreeImageList() {
    QList<QIcon> images;
    for (int i = 0; i < kTreeImageCount; ++i) {
        images.append(QIcon(QPixmap::fromImage(TreeImage(i))));
    }
    return images;
}

QImage ToolbarPicture(int nIndex) {
    static constexpr std::array<Motif, kToolbarPictureCount> kMotifs = {
        [](CCanvas& c) { DrawPage(c, 3, 0, 13, 14); },
        DrawFolder,
        DrawScissors,
        DrawCopy,
        DrawClipboard,
        DrawPrinter,
        DrawAxes,
        DrawWireCube,
        DrawFilmStrip,
        DrawRedCube,
        DrawGem,
        DrawSpheres,
        DrawCheckerboard,
        DrawQuestionMark,
    };
    CCanvas c(16, 15);
    if (nIndex >= 0 && nIndex < kToolbarPictureCount) {
        kMotifs[static_cast<size_t>(nIndex)](c);
    }
    return c.Finish();
}

QImage ApplicationIconImage(int nSize) {
    CCanvas c(nSize, nSize);
    if (nSize >= 32) {
        const std::initializer_list<const char*> m = {"#...#", "##.##", "#.#.#", "#...#",
                                                      "#...#", "#...#", "#...#"};
        const std::initializer_list<const char*> three = {"####.", "....#", "....#", ".###.",
                                                          "....#", "....#", "####."};
        const std::initializer_list<const char*> d = {"####.", "#...#", "#...#", "#...#",
                                                      "#...#", "#...#", "####."};
        DrawLetteredCube(c, 9, 5, 11, 3, m, 5);
        DrawLetteredCube(c, 2, 19, 11, 3, three, 5);
        DrawLetteredCube(c, 16, 19, 11, 3, d, 5);
    } else {
        const std::initializer_list<const char*> m = {"#.#", "###", "#.#", "#.#", "#.#"};
        const std::initializer_list<const char*> three = {"###", "..#", ".##", "..#", "###"};
        const std::initializer_list<const char*> d = {"##.", "#.#", "#.#", "#.#", "##."};
        DrawLetteredCube(c, 4, 2, 6, 2, m, 3);
        DrawLetteredCube(c, 0, 9, 6, 2, three, 3);
        DrawLetteredCube(c, 8, 9, 6, 2, d, 3);
    }
    return c.Finish();
}

QImage DocumentIconImage(int nSize) {
    CCanvas c(nSize, nSize);
    if (nSize >= 32) {
        DrawPage(c, 5, 1, 26, 30);
        c.Fill(8, 5, 18, 7, kRed);
        for (int y = 11; y <= 26; y += 3) {
            c.Line(8, y, 23, y, kGreen);
        }
    } else {
        DrawPage(c, 2, 0, 13, 15);
        c.Fill(4, 2, 8, 3, kRed);
        for (int y = 6; y <= 12; y += 2) {
            c.Line(4, y, 11, y, kGreen);
        }
    }
    return c.Finish();
}

QIcon ApplicationIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(ApplicationIconImage(16)));
    icon.addPixmap(QPixmap::fromImage(ApplicationIconImage(32)));
    return icon;
}
