// The public question which file types store a format as it is, answered
// from the saver's candidate lists: a format in a file type's list is the
// exact match the saver takes without converting.
#include "save/image_saver.h"
#include "z3az/pixel_formats.h"

namespace z3az {

bool FileTypeStoresFormat(uint32_t fileType, uint32_t format) {
    const uint32_t* candidates = CandidateList(fileType);
    if (!candidates || format == 0) return false;
    for (; *candidates != 0; ++candidates) {
        if (*candidates == format) return true;
    }
    return false;
}

}  // namespace z3az
