#pragma once
// Makes the vision library's calibration repeat to the last digit.
//
// The linear algebra under cv::calibrateCamera and cv::solvePnP takes its work
// arrays from operator new, and its vectorised loops start at the first
// aligned element: where the heap happens to place a buffer changes the order
// of the sums, and so the last bits of the camera. The heap's state differs
// with what ran before (one extraction thread or several), so a calibration
// of the same points could print different digits.
//
// While an AlignedAllocations object lives, every operator new on its thread
// returns storage aligned to a cache line, so the arrays start alike
// whatever came before. Other threads, and this one outside the scope, are
// served as usual; storage from either kind is released the same way.
class AlignedAllocations {
public:
    AlignedAllocations();
    ~AlignedAllocations();
    AlignedAllocations(const AlignedAllocations&) = delete;
    AlignedAllocations& operator=(const AlignedAllocations&) = delete;

    // True while a scope is open on the calling thread.
    static bool active();
};
