#include "DialogUnits.h"

#include <QFontMetrics>
#include <gtest/gtest.h>

TEST(DialogUnits, ConvertsCornersThroughTheFontMetrics) {
    QFont font = DialogFont();
    for (int px : {11, 13, 17}) {
        font.setPixelSize(px);
        const QFontMetrics fm(font);
        // The average letter width the way dialog templates measure it.
        const int letters = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        const int cw = (letters / 26 + 1) / 2, h = fm.height();
        const QRect r = DluToPixels(font, 7, 12, 172, 8);
        EXPECT_EQ(r.left(), 7 * cw / 4);
        EXPECT_EQ(r.top(), 12 * h / 8);
        EXPECT_EQ(r.left() + r.width(), 179 * cw / 4);
        EXPECT_EQ(r.top() + r.height(), 20 * h / 8);
        // Controls that touch in dialog units touch in pixels, whatever the rounding.
        for (int x = 0; x < 12; ++x) {
            const QRect a = DluToPixels(font, x, 0, 5, 5), b = DluToPixels(font, x + 5, 0, 5, 5);
            EXPECT_EQ(a.right() + 1, b.left());
        }
        EXPECT_EQ(DluSizeToPixels(font, 186, 25), QSize(186 * cw / 4, 25 * h / 8));
    }
}
