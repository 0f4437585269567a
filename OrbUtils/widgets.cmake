# SPDX-License-Identifier: GPL-3.0-or-later
# orbwidgets: the widget half of the kit. Kept apart from orbcore so that the
# link library, the command-line front end and the simulator never pull in
# Qt Widgets.
add_library(orbwidgets STATIC
  ${CMAKE_CURRENT_LIST_DIR}/OrbDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/OrbDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/OrbWaitDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/OrbWaitDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/OrbProgressDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/OrbProgressDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/OrbAlertDialog.cpp ${CMAKE_CURRENT_LIST_DIR}/OrbAlertDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/OrbWidget.cpp ${CMAKE_CURRENT_LIST_DIR}/OrbWidget.h
  ${CMAKE_CURRENT_LIST_DIR}/OrbToast.cpp ${CMAKE_CURRENT_LIST_DIR}/OrbToast.h
  ${CMAKE_CURRENT_LIST_DIR}/OrbTableView.cpp ${CMAKE_CURRENT_LIST_DIR}/OrbTableView.h
)
set_target_properties(orbwidgets PROPERTIES AUTOMOC ON)
target_include_directories(orbwidgets PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(orbwidgets PUBLIC orbcore Qt5::Gui Qt5::Widgets)
