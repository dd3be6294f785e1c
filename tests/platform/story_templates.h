/* The numbers of the event-order stories' dialog templates and controls, read by
 * event_order_stories.rc and the C++. Plain #defines of plain numbers only. */
#ifndef TAVIX_TESTS_STORY_TEMPLATES_H
#define TAVIX_TESTS_STORY_TEMPLATES_H

#define STORY_WITH_DEFAULT   920  /* "Go" is the default push button */
#define STORY_NO_DEFAULT     921  /* no default push button: Enter means IDOK */

#define STORY_NAME           10   /* edit, first tab stop */
#define STORY_PORT           14   /* edit */
#define STORY_GO             11   /* push button */

#endif
