#include "acquisitionlog.h"

Q_LOGGING_CATEGORY(lcAcquisition, "quillmar.acquisition")
