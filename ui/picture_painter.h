#pragma once
// Draws a monochrome picture as the view shows it: the area filled with the
// background colour, the picture on white from dot (h, v) on, starting 20
// pixels from the area's left and top edges, 1 = black dot. Only the dots that
// fit the area are converted, so a 2040 x 2040 picture costs what is visible.
class PictureFile;
class wxColour;
class wxDC;
class wxSize;

void PaintPicture(wxDC& dc, const wxSize& area, const wxColour& background, const PictureFile* picture, int h,
                  int v);
