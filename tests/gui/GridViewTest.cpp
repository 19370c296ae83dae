#include "GuiSupport.h"
#include "gui/GridModel.h"
#include "gui/ImageList.h"

#include <QHeaderView>
#include <QSignalSpy>

namespace vorlen::test {
namespace {

using gui::TGridView;

std::vector<std::string> Row(int cols, const std::string& prefix) {
    std::vector<std::string> cells;
    cells.reserve(static_cast<std::size_t>(cols));
    for (int c = 0; c < cols; ++c)
        cells.push_back(prefix + std::to_string(c));
    return cells;
}

TEST(GridView, APassReachesTheViewOnceAndKeepsTheUsersColumnWidths) {
    TGridView view(GridLayout(kOrdersGrid));
    view.Setup();
    view.resize(600, 300);
    view.show();
    view.setColumnWidth(2, 333);

    gui::TGridModel& model = view.Model();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    const int cols = model.ColCount();
    model.BeginUpdate();
    model.SetRowCount(1);
    for (int r = 0; r < 50; ++r) {
        std::vector<std::string> cells = Row(cols, "r" + std::to_string(r) + "c");
        model.SetRow(r, cells);
    }
    EXPECT_EQ(model.rowCount(), 1) << "the view hears of it at the end of the batch";
    model.EndUpdate();
    EXPECT_EQ(model.rowCount(), 50);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(model.data(model.index(49, 3), Qt::DisplayRole).toString(), "r49c3");
    EXPECT_EQ(view.columnWidth(2), 333);
    EXPECT_EQ(view.rowHeight(49), 18);

    // The next pass shrinks the grid again: rows go, their texts are gone with them.
    model.BeginUpdate();
    model.SetRowCount(1);
    std::vector<std::string> cells = Row(cols, "x");
    model.SetRow(0, cells);
    model.EndUpdate();
    EXPECT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.data(model.index(0, 0), Qt::DisplayRole).toString(), "x0");
    EXPECT_EQ(view.columnWidth(2), 333);

    // Outside a batch a change is shown at once.
    model.SetCell(0, 1, "now");
    EXPECT_EQ(model.data(model.index(0, 1), Qt::DisplayRole).toString(), "now");
    model.SetRowCount(3);
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(2, 0), Qt::DisplayRole).toString(), "");
}

TEST(GridView, HeadersShowTheCaptionsTwiceWhereTheLayoutHasThemTwice) {
    TGridView view(GridLayout(kOrdersGrid));
    view.Setup();
    const QAbstractItemModel& m = *view.model();
    EXPECT_EQ(m.headerData(3, Qt::Horizontal).toString(), "Кол-во контр. в операции");
    EXPECT_EQ(m.headerData(25, Qt::Horizontal).toString(), "Кол-во контр. в операции");
    EXPECT_EQ(m.headerData(12, Qt::Horizontal).toString(), "Действие с заявкой");
    EXPECT_EQ(m.headerData(29, Qt::Horizontal).toString(), "Действие с заявкой");
    EXPECT_FALSE(m.flags(m.index(0, 0)) & Qt::ItemIsEditable);
    EXPECT_EQ(view.objectName(), "OrdersGrid");

    TGridView ml(GridLayout(kMLOrdersGrid));
    ml.Setup();
    EXPECT_EQ(ml.model()->columnCount(), 33);
    EXPECT_EQ(ml.model()->headerData(14, Qt::Horizontal).toString(),
              "Ставка заявки. (Поле не используется)");
}

TEST(ImageList, TwentyFourDistinctPicturesAndTwoTicks) {
    std::vector<QImage> images;
    for (int i = 0; i < gui::kMainImageCount; ++i) {
        const QPixmap p = gui::MainPixmap(i);
        ASSERT_FALSE(p.isNull()) << i;
        images.push_back(p.toImage());
    }
    for (std::size_t a = 0; a < images.size(); ++a)
        for (std::size_t b = a + 1; b < images.size(); ++b)
            EXPECT_NE(images[a], images[b]) << a << " and " << b << " look alike";
    EXPECT_TRUE(gui::MainPixmap(24).isNull());
    EXPECT_TRUE(gui::MainIcon(-1).isNull());
    EXPECT_FALSE(gui::TreeIcon(0).isNull());
    EXPECT_FALSE(gui::TreeIcon(1).isNull());
    EXPECT_TRUE(gui::TreeIcon(-1).isNull());
    EXPECT_NE(gui::TreeIcon(0).pixmap(16).toImage(), gui::TreeIcon(1).pixmap(16).toImage());
}

} // namespace
} // namespace vorlen::test
