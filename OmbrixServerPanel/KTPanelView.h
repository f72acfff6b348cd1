#ifndef KTPANELVIEW_H
#define KTPANELVIEW_H

#include <QTabWidget>

class KTPanelViewPage;
class KTPanetBase;

// The panel's central widget: tabs of Panet pages numbered "1".."n", all with
// the same grid size. There is always at least one page.
class KTPanelView : public QTabWidget
{
    Q_OBJECT
public:
    explicit KTPanelView(QWidget* parent = nullptr);

    // Shows the Panet on the current page, or takes it off the page holding it.
    void showPanet(KTPanetBase* panet, bool show);
    // Applies to every page now and to the pages added later.
    void setPageSize(int rows, int columns);

    int rowCount() const;
    int columnCount() const;
    // The page of a tab; null for an index out of range.
    KTPanelViewPage* page(int index) const;

public Q_SLOTS:
    // Adds a page as a new last tab and makes it current.
    void updateTabs();
    // Hides the page's Panets and removes the tab; the last tab stays.
    void closeTab(int index);

Q_SIGNALS:
    void panetShowRequest(const QString& panetName, bool shown);

private:
    KTPanelViewPage* newPage();

    int _columns = 0;
    int _rows = 0;
};

#endif
