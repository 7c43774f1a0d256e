// Where the images of a file document come from. A document whose images lie
// in files holds only their places (TTOVASectInfo) and one image section; the
// format layer gives it an image source when it opens the files, and the
// document loads the current dataset's image through it.
#pragma once

#include "model/result.h"
#include "model/tova_section.h"

namespace tova {

class ImageSource {
 public:
  virtual ~ImageSource() = default;
  // Reads the image section stored at `where` and parses it into image,
  // which is then unmodified. kNoMemory, kOpen, kShort or the parse result.
  virtual Code LoadImage(const TTOVASectInfo& where, CTOVASection& image) = 0;
};

}  // namespace tova
