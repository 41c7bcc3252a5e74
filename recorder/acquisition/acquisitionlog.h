#pragma once

#include <QLoggingCategory>

// Traces of the link, gateways and nodes. A category, so that a run with the traces switched
// off (QT_LOGGING_RULES="quillmar.acquisition.debug=false") does not even format them: a poll
// would otherwise spend most of its own time building hex dumps nobody reads.
Q_DECLARE_LOGGING_CATEGORY(lcAcquisition)
