# The message view, the Qt side of the channel's view with its append queue,
# and its event; included by this folder's CMakeLists.txt into console_app.
target_sources(console_app PRIVATE
  appendqueue.cpp
  appendqueue.h
  messageview.cpp
  pendingtext.cpp
  pendingtext.h
  messageview.h
  qtviewwindow.cpp
  qtviewwindow.h
  socketevent.cpp
  socketevent.h)
