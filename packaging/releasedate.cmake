# client_rfc2822_date(DATE OUT): OUT = the day DATE (YYYY-MM-DD) at midnight
# UTC as RFC 2822 writes it, e.g. "Mon, 07 Dec 2026 00:00:00 +0000".
function(client_rfc2822_date date out)
  if(NOT date MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "Release date '${date}' is not YYYY-MM-DD")
  endif()
  set(year_text ${CMAKE_MATCH_1})
  set(day_text ${CMAKE_MATCH_3})
  set(year ${CMAKE_MATCH_1})
  math(EXPR month "${CMAKE_MATCH_2} + 0")
  math(EXPR day "${CMAKE_MATCH_3} + 0")
  # Sakamoto's day of the week: 0 is Sunday.
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET offsets ${index} offset)
  if(month LESS 3)
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR weekday
       "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
  set(weekdays Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET weekdays ${weekday} weekday_name)
  list(GET months ${index} month_name)
  set(${out} "${weekday_name}, ${day_text} ${month_name} ${year_text} 00:00:00 +0000"
      PARENT_SCOPE)
endfunction()
