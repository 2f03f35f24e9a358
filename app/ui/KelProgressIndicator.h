#pragma once
// A view that shows a progress value (0 to 1): the pie, ring and bar of the progress overlay. The overlay
// hands its progress to an indicator only when the indicator is one of these. Main thread only.

class KelProgressIndicator {
public:
    virtual ~KelProgressIndicator() = default;
    virtual float progress() const = 0;
    virtual void setProgress(float progress) = 0;
};
