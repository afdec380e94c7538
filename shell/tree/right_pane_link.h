// What the left pane asks of the right pane: the narrow interface through
// which the tree's selection reaches the element views. The main window
// connects the two.
#pragma once

namespace halvorin {

class CSubEnc;

class RightPaneLink {
  public:
    // Shows one sub-enclosure's element groups.
    virtual void ShowSubEnclosure(CSubEnc* subenc) = 0;
    // Shows the overview of every enclosure (the dashboard).
    virtual void ShowDashboard() = 0;
    // Shows nothing of the model any more (the sub-enclosure shown is gone).
    virtual void ClearView() = 0;
    // The set of enclosures changed: whatever is shown is brought up to date.
    virtual void RefreshView() = 0;
    // The sub-enclosure shown now, or null.
    virtual CSubEnc* ShownSubEnclosure() const = 0;
    // Asked before something else is shown: false when the operator would
    // rather stay with edits not applied yet.
    virtual bool MayLeaveShown() = 0;
    // The keyboard moves to what is shown (Enter on the tree's enclosure).
    virtual void FocusView() = 0;

  protected:
    ~RightPaneLink() = default;
};

}  // namespace halvorin
