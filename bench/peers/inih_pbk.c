/* inih_pbk TEMPLATE IN OUT: the tool's work on one phonebook, written with inih.
 *
 * Parses IN with inih (TEMPLATE with a plain reader, see ReadTemplate), keeps every key of every section in order (equal
 * names and repeated sections included), and then does what vpnsetup does: probes IN for
 * the template's creatable entries; in every section whose last PhoneNumber (names
 * compared without ASCII case) equals a managed rule's id, sets each of the rule's keys
 * (the last line of that name takes the new value, or one is appended); creates the
 * missing creatable entries at the end; writes the canonical text ("[name]", "key=value"
 * lines, a blank line after each section, CR LF) to a new file beside OUT, flushes it and
 * puts it in OUT's place. Lookups by section name find the last section of that name,
 * through a hash table, as the tool's do.
 *
 * The phonebook is read by inih. inih as Debian builds it reads lines of up to 199 bytes,
 * keeps the first 50 bytes of a section's name, takes lines starting with a blank as the
 * continuation of the previous value, cuts values at " ;", drops lines without "=" and
 * reports no section that holds no key: on such input the output differs from the
 * tool's. */
#define _POSIX_C_SOURCE 200809L
#include <ini.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

typedef struct {
  char* key;
  char* value;
} Line;

typedef struct {
  char* name;
  Line* lines;
  size_t count, room;
  size_t next; /* older section in the same bucket, +1; 0 ends */
} Section;

typedef struct {
  Section* sections;
  size_t count, room;
  size_t* buckets; /* newest section of each bucket, +1; 0 when none */
  size_t bucketCount;
} Doc;

static void* Need(void* p) {
  if (p == NULL) {
    fprintf(stderr, "inih_pbk: out of memory\n");
    exit(1);
  }
  return p;
}

static char* Copy(const char* s) {
  return Need(strdup(s));
}

static size_t HashName(const char* name) {
  size_t h = 1469598103934665603ull; /* FNV-1a of the ASCII upper-cased name */
  for (const unsigned char* p = (const unsigned char*)name; *p; ++p) {
    unsigned char c = *p;
    if (c >= 'a' && c <= 'z') c = (unsigned char)(c - 'a' + 'A');
    h = (h ^ c) * 1099511628211ull;
  }
  return h;
}

static void Link(Doc* doc, size_t i) {
  size_t b = HashName(doc->sections[i].name) & (doc->bucketCount - 1);
  doc->sections[i].next = doc->buckets[b];
  doc->buckets[b] = i + 1;
}

static Section* AddSection(Doc* doc, const char* name) {
  if (doc->count == doc->room) {
    doc->room = doc->room ? doc->room * 2 : 64;
    doc->sections = Need(realloc(doc->sections, doc->room * sizeof(Section)));
  }
  Section* s = &doc->sections[doc->count++];
  memset(s, 0, sizeof *s);
  s->name = Copy(name);
  if (doc->count > doc->bucketCount) { /* grow and link everything again, oldest first */
    free(doc->buckets);
    doc->bucketCount = doc->bucketCount ? doc->bucketCount * 2 : 64;
    doc->buckets = Need(calloc(doc->bucketCount, sizeof(size_t)));
    for (size_t i = 0; i < doc->count; ++i) Link(doc, i);
  } else {
    Link(doc, doc->count - 1);
  }
  return s;
}

static Section* FindSection(Doc* doc, const char* name) {
  if (doc->bucketCount == 0) return NULL;
  for (size_t i = doc->buckets[HashName(name) & (doc->bucketCount - 1)]; i; i = doc->sections[i - 1].next) {
    if (strcasecmp(doc->sections[i - 1].name, name) == 0) return &doc->sections[i - 1];
  }
  return NULL;
}

static void AddLine(Section* s, const char* key, const char* value) {
  if (s->count == s->room) {
    s->room = s->room ? s->room * 2 : 16;
    s->lines = Need(realloc(s->lines, s->room * sizeof(Line)));
  }
  s->lines[s->count].key = Copy(key);
  s->lines[s->count].value = Copy(value);
  s->count++;
}

static Line* FindKey(Section* s, const char* key) {
  for (size_t j = s->count; j-- > 0;) {
    if (strcasecmp(s->lines[j].key, key) == 0) return &s->lines[j];
  }
  return NULL;
}

static void SetValue(Doc* doc, const char* section, const char* key, const char* value) {
  Section* s = FindSection(doc, section);
  if (s == NULL) s = AddSection(doc, section);
  Line* line = FindKey(s, key);
  if (line == NULL) {
    AddLine(s, key, value);
    return;
  }
  free(line->key);
  free(line->value);
  line->key = Copy(key);
  line->value = Copy(value);
}

static const char* GetValue(Doc* doc, const char* section, const char* key) {
  Section* s = FindSection(doc, section);
  if (s == NULL) return "";
  Line* line = FindKey(s, key);
  return line ? line->value : "";
}

/* inih calls this for every key, in order; a new section name starts a new section. */
static int OnKey(void* user, const char* section, const char* key, const char* value) {
  Doc* doc = user;
  if (doc->count == 0 || strcmp(doc->sections[doc->count - 1].name, section) != 0) {
    AddSection(doc, section);
  }
  AddLine(&doc->sections[doc->count - 1], key, value);
  return 1;
}

/* The parts of `text` between `delimiter`s, as the tool's SplitString cuts them. */
static size_t Split(const char* text, char delimiter, char*** parts) {
  size_t count = 1;
  for (const char* p = text; *p; ++p) count += *p == delimiter;
  *parts = Need(malloc(count * sizeof(char*)));
  const char* start = text;
  for (size_t i = 0; i < count; ++i) {
    const char* end = strchr(start, delimiter);
    size_t n = end ? (size_t)(end - start) : strlen(start);
    (*parts)[i] = Need(strndup(start, n));
    start = end ? end + 1 : start + n;
  }
  if (count == 1 && (*parts)[0][0] == '\0') count = 0; /* empty text: no parts */
  return count;
}

/* "\r\n" written as four characters becomes a line break. */
static char* ExpandLineBreaks(const char* value) {
  char* out = Need(malloc(strlen(value) + 1));
  char* o = out;
  for (const char* p = value; *p;) {
    if (strncmp(p, "\\r\\n", 4) == 0) {
      *o++ = '\r';
      *o++ = '\n';
      p += 4;
    } else {
      *o++ = *p++;
    }
  }
  *o = '\0';
  return out;
}

static char* DeriveGuid(const char* templateGuid) {
  char prefix[25] = {0};
  strncpy(prefix, templateGuid, 24);
  unsigned long tail = 0;
  int ok = strlen(templateGuid) > 24;
  for (const char* p = templateGuid + (ok ? 24 : 0); ok && *p && p < templateGuid + 32; ++p) {
    int d = (*p >= '0' && *p <= '9') ? *p - '0' : (*p >= 'A' && *p <= 'F') ? *p - 'A' + 10
          : (*p >= 'a' && *p <= 'f') ? *p - 'a' + 10 : -1;
    if (d < 0) {
      ok = 0;
      break;
    }
    tail = (tail << 4) | (unsigned long)d;
  }
  char* out = Need(malloc(33));
  snprintf(out, 33, "%s%08lX", prefix, ((ok ? tail : 0) + 1) & 0xFFFFFFFFul);
  return out;
}

static void Write(const Doc* doc, int bom, const char* path) {
  size_t size = bom ? 3 : 0;
  for (size_t i = 0; i < doc->count; ++i) {
    const Section* s = &doc->sections[i];
    size += strlen(s->name) + 6;
    for (size_t j = 0; j < s->count; ++j) size += strlen(s->lines[j].key) + strlen(s->lines[j].value) + 3;
  }
  char* text = Need(malloc(size ? size : 1));
  char* o = text;
  if (bom) o += sprintf(o, "\xEF\xBB\xBF");
  for (size_t i = 0; i < doc->count; ++i) {
    const Section* s = &doc->sections[i];
    size_t n = strlen(s->name);
    *o++ = '[';
    memcpy(o, s->name, n);
    o += n;
    memcpy(o, "]\r\n", 3);
    o += 3;
    for (size_t j = 0; j < s->count; ++j) {
      size_t k = strlen(s->lines[j].key), v = strlen(s->lines[j].value);
      memcpy(o, s->lines[j].key, k);
      o += k;
      *o++ = '=';
      memcpy(o, s->lines[j].value, v);
      o += v;
      *o++ = '\r';
      *o++ = '\n';
    }
    *o++ = '\r';
    *o++ = '\n';
  }
  size_t tempSize = strlen(path) + 16;
  char* temp = Need(malloc(tempSize));
  snprintf(temp, tempSize, "%s.%ld.tmp", path, (long)getpid());
  FILE* f = fopen(temp, "wb");
  if (f == NULL || fwrite(text, 1, size, f) != size || fflush(f) != 0 || fsync(fileno(f)) != 0 ||
      fclose(f) != 0 || rename(temp, path) != 0) {
    perror("inih_pbk: write");
    exit(1);
  }
  free(temp);
  free(text);
}

/* The template's "set" lists run past the 199 bytes inih takes in a line, so the template
 * is read by this plain reader: "[name]" starts a section, "key=value" adds a key (blanks
 * around both trimmed), blank lines and lines starting with ";" are skipped. */
static char* Trim(char* s) {
  while (*s == ' ' || *s == '\t') ++s;
  char* end = s + strlen(s);
  while (end > s && (unsigned char)end[-1] <= ' ') *--end = '\0';
  return s;
}

static int ReadTemplate(const char* path, Doc* doc) {
  FILE* f = fopen(path, "rb");
  if (f == NULL) return 0;
  char* line = NULL;
  size_t room = 0;
  Section* current = NULL;
  while (getline(&line, &room, f) >= 0) {
    char* text = Trim(line);
    size_t n = strlen(text);
    if (n == 0 || text[0] == ';') continue;
    if (text[0] == '[' && text[n - 1] == ']') {
      text[n - 1] = '\0';
      current = AddSection(doc, Trim(text + 1));
      continue;
    }
    char* equals = strchr(text, '=');
    if (current == NULL || equals == NULL) continue;
    *equals = '\0';
    AddLine(current, Trim(text), Trim(equals + 1));
  }
  free(line);
  fclose(f);
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: inih_pbk TEMPLATE IN OUT\n");
    return 2;
  }
  Doc templ = {0}, pbk = {0};
  if (!ReadTemplate(argv[1], &templ)) {
    fprintf(stderr, "inih_pbk: cannot read %s\n", argv[1]);
    return 1;
  }
  FILE* in = fopen(argv[2], "rb");
  if (in == NULL) {
    perror("inih_pbk: open");
    return 1;
  }
  unsigned char head[3] = {0};
  int bom = fread(head, 1, 3, in) == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
  rewind(in);
  ini_parse_file(in, OnKey, &pbk); /* a line inih cannot take is skipped, not fatal */
  fclose(in);

  char** creatable;
  size_t creatableCount = Split(GetValue(&templ, "config", "cresecs"), '|', &creatable);
  int create = 1;
  for (size_t i = 0; i < creatableCount; ++i) {
    Section* s = FindSection(&pbk, creatable[i]);
    if (s != NULL && s->count > 0) create = 0;
  }

  char** managed;
  size_t managedCount = Split(GetValue(&templ, "config", "mansecs"), '|', &managed);
  for (size_t r = 0; r < managedCount; ++r) {
    char** id;
    if (Split(GetValue(&templ, managed[r], "id"), '=', &id) < 2) continue;
    char** set;
    size_t setCount = Split(GetValue(&templ, managed[r], "set"), '|', &set);
    size_t sections = pbk.count;
    for (size_t i = 0; i < sections; ++i) {
      const char* entry = pbk.sections[i].name;
      if (strcmp(GetValue(&pbk, entry, id[0]), id[1]) != 0) continue;
      for (size_t k = 0; k < setCount; ++k) {
        char** pair;
        if (Split(set[k], '=', &pair) < 2) continue;
        SetValue(&pbk, entry, pair[0], pair[1]);
      }
    }
  }

  for (size_t i = 0; create && i < creatableCount; ++i) {
    const char* entry = creatable[i];
    char* guid = Copy(GetValue(&pbk, entry, "Guid"));
    if (guid[0] == '\0') guid = DeriveGuid(GetValue(&templ, entry, "Guid"));
    Section* existing = FindSection(&pbk, entry);
    if (existing != NULL && existing->count > 0) continue;
    Section* from = FindSection(&templ, entry);
    Section* to = existing ? existing : AddSection(&pbk, entry);
    for (size_t j = 0; from != NULL && j < from->count; ++j) {
      char* value = ExpandLineBreaks(from->lines[j].value);
      AddLine(to, from->lines[j].key, value);
      free(value);
    }
    SetValue(&pbk, entry, "Guid", guid);
  }

  Write(&pbk, bom, argv[3]);
  return 0;
}
