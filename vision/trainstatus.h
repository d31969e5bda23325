#pragma once

// Training state shared by the matchers of the vision layer. Callers that only
// need "usable or not" ask IsValid(); the status says why a matcher is not
// usable, so the station can tell the operator and the log.
enum class TrainStatus {
    Empty,       // nothing created or trained yet
    Trained,     // usable
    NoTemplate,  // trained without any accepted template image
    Untextured,  // the template has (almost) no grey variation: it would match anything
    LowContrast, // the template's strongest edge is below the requested contrast
    BadInput     // wrong sizes or types (mask of another size, empty model, ...)
};

inline const char* trainStatusText(TrainStatus s)
{
    switch (s) {
    case TrainStatus::Empty: return "not trained";
    case TrainStatus::Trained: return "trained";
    case TrainStatus::NoTemplate: return "no template image";
    case TrainStatus::Untextured: return "template without texture";
    case TrainStatus::LowContrast: return "template contrast too low";
    case TrainStatus::BadInput: return "invalid model, mask or image size";
    }
    return "unknown";
}
