// Names of the log4cpp categories the library writes to, each spelled in
// one place.
#ifndef VMSG_SRC_LOGGING_CATEGORIES_H
#define VMSG_SRC_LOGGING_CATEGORIES_H

namespace vmsg::log {

inline constexpr char kVTag[] = "VTag";
inline constexpr char kVMsg[] = "VMsg";
inline constexpr char kVList[] = "Vlist";
inline constexpr char kCarrow[] = "Carrow";
inline constexpr char kCarrowMessage[] = "CarrowMessage";
inline constexpr char kCarrowObject[] = "CarrowObject";

} // namespace vmsg::log

#endif
