#include <gtest/gtest.h>

#include <cstdlib>

#include <QApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>

#include "server/ui/playback/StillFrame.h"
#include "server/ui/playback/tests/PlaybackTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace halvard::ui::playback;

namespace {

TEST(PrintLayout, PictureAtTwoFifthsCentredHeadingOneInchDownRulesBelowIt) {
  const PrintLayout layout = ComputePrintLayout(QSize(4800, 6600), 600, 600, QSize(640, 480), QSize(1000, 100));
  EXPECT_EQ(layout.picture, QRect(1440, 2580, 1920, 1440));
  EXPECT_EQ(layout.heading, QRect(1900, 600, 1000, 100));
  EXPECT_EQ(layout.thickRule, QLine(600, 702, 4200, 702));
  EXPECT_EQ(layout.thinRule, QLine(600, 720, 4200, 720));  // 0.03 inch = 18 pixels lower
  EXPECT_EQ(layout.thickWidth, 7);
  EXPECT_EQ(layout.thinWidth, 3);
  // The vertical inch is the printer's vertical resolution, the horizontal one its own.
  const PrintLayout uneven = ComputePrintLayout(QSize(2000, 3000), 300, 600, QSize(100, 200), QSize(10, 50));
  EXPECT_EQ(uneven.heading.top(), 600);
  EXPECT_EQ(uneven.thickRule, QLine(300, 652, 1700, 652));
  EXPECT_EQ(uneven.thinRule.y1(), 670);
  EXPECT_EQ(uneven.picture, QRect(600, 700, 800, 1600));  // a tall picture keeps its proportion
  EXPECT_TRUE(ComputePrintLayout(QSize(100, 100), 10, 10, QSize(0, 0), QSize(1, 1)).picture.isEmpty());
}

// Prints a grey picture to a PDF file, renders it at the printer's resolution and
// looks where the ink is.
TEST(PrintLayout, APrintedPageHasItsPartsWhereTheLayoutPutsThem) {
  (void)halvard::ui::playback::testing::App();
  const halvard::testing::TempDir dir;
  const std::string pdf = dir.File("page.pdf");
  constexpr int kDpi = 600;
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(pdf));
    printer.setResolution(kDpi);
    printer.setPageLayout(QPageLayout(QPageSize(QSizeF(8, 10), QPageSize::Inch), QPageLayout::Portrait,
                                      QMarginsF(0, 0, 0, 0)));
    QImage grey(320, 240, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    ASSERT_TRUE(PrintFrame(printer, grey, "Halvard Surveillance Server"));
  }
  const std::string prefix = dir.File("page");
  ASSERT_EQ(halvard::testing::RunCommand("pdftoppm -r 600 -gray -png -singlefile " + halvard::testing::ShellQuote(pdf) +
                                         " " + halvard::testing::ShellQuote(prefix) + " 2>&1", true)
                .status,
            0);
  const QImage page(QString::fromStdString(prefix + ".png"));
  if (const char* keep = std::getenv("HALVARD_KEEP_PRINT"); keep != nullptr) {
    (void)page.save(keep);
  }
  ASSERT_EQ(page.size(), QSize(8 * kDpi, 10 * kDpi));
  const auto ink = [&](int x, int y) { return qGray(page.pixel(x, y)); };
  // The picture: 1920 x 1440 centred on the 4800 x 6000 page.
  EXPECT_NEAR(ink(2400, 3000), 128, 8);
  EXPECT_NEAR(ink(1445, 2285), 128, 8);
  EXPECT_NEAR(ink(3355, 3715), 128, 8);
  EXPECT_GT(ink(1432, 3000), 240);
  EXPECT_GT(ink(3368, 3000), 240);
  EXPECT_GT(ink(2400, 2272), 240);
  EXPECT_GT(ink(2400, 3728), 240);
  // The heading: nothing above one inch, ink just below it.
  int top = -1;
  for (int y = 0; y < 1200 && top < 0; ++y) {
    for (int x = 0; x < page.width(); ++x) {
      if (ink(x, y) < 128) {
        top = y;
        break;
      }
    }
  }
  ASSERT_GE(top, kDpi);
  EXPECT_LT(top, kDpi + 60);
  // The thick rule: the first ink just right of the left inch (the heading is centred).
  int thick = -1;
  for (int y = top; y < 1200 && thick < 0; ++y) {
    if (ink(kDpi + 20, y) < 64) {
      thick = y;
    }
  }
  ASSERT_GT(thick, top);
  // 7 pixels of ink, then paper, then 3 pixels 18 pixels below the thick rule's middle.
  EXPECT_LT(ink(kDpi + 20, thick + 5), 64);
  EXPECT_GT(ink(kDpi + 20, thick + 10), 200);
  EXPECT_LT(ink(kDpi + 20, thick + 3 + 18), 64);
  EXPECT_GT(ink(kDpi + 20, thick + 3 + 18 + 4), 200);
  // Both rules run from one inch from the left to one inch from the right.
  for (const int y : {thick + 3, thick + 21}) {
    EXPECT_LT(ink(kDpi + 2, y), 64) << y;
    EXPECT_GT(ink(kDpi - 3, y), 200) << y;
    EXPECT_LT(ink(page.width() - kDpi - 3, y), 64) << y;
    EXPECT_GT(ink(page.width() - kDpi + 3, y), 200) << y;
  }
  // The heading text sits above the rules, centred on the page.
  int textLeft = page.width();
  int textRight = -1;
  for (int y = top; y < thick - 2; ++y) {
    for (int x = 0; x < page.width(); ++x) {
      if (ink(x, y) < 128) {
        textLeft = std::min(textLeft, x);
        textRight = std::max(textRight, x);
      }
    }
  }
  ASSERT_LT(textLeft, textRight);
  EXPECT_NEAR((textLeft + textRight) / 2, page.width() / 2, 12);
}

TEST(PrintLayout, ANullPictureIsNotPrinted) {
  (void)halvard::ui::playback::testing::App();
  const halvard::testing::TempDir dir;
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(dir.File("none.pdf")));
  EXPECT_FALSE(PrintFrame(printer, QImage(), "x"));
}

}  // namespace
